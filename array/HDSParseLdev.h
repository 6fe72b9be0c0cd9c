// Parser of the key-and-value LDEV listing ("raidcom get ldev"), and the
// keys of the LDEV listing filter that getLdevList takes.
//
// The listing has no header. Each line is a key, a colon and a value with
// blanks around the colon; one LDEV is the block from a "Serial#" line to the
// next one. Keys and values are read with every white-space character
// removed (so "NOT DEFINED" reads "NOTDEFINED" and a label with blanks is
// kept without them), except the "PORTs" line, whose LU paths are cut from
// the line as printed.
#ifndef ZR_ARRAY_HDSPARSELDEV_H
#define ZR_ARRAY_HDSPARSELDEV_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "records/HDSArrayRecords.h"

// Keys of the filter map of getLdevList (std::map<int, std::string>).
enum HDSLdevFilterKey {
  HDS_LDEV_FILTER_UNDEFINED = 0x1,  // undefined LDEVs only (value unused)
  HDS_LDEV_FILTER_UNMAPPED = 0x2,   // unmapped LDEVs only (value unused)
  HDS_LDEV_FILTER_MAPPED = 0x4,     // mapped LDEVs only (value unused)
  HDS_LDEV_FILTER_POOL = 0x8,       // one pool: the pool id
  HDS_LDEV_FILTER_LABEL = 0x10,     // one label, compared without blanks
  // Ids to list, used only when none of the kind keys 1, 2, 4, 0x40, 0x80
  // is present: a decimal CU number N (ids N*256 .. N*256+255), or
  // "<hex A>-<hex B>" (B-A+1 ids from A*256; the handler passes
  // "0-<highest LDEV id in hex>").
  HDS_LDEV_FILTER_RANGE = 0x20,
  HDS_LDEV_FILTER_DEFINED = 0x40,   // defined LDEVs only (value unused)
  HDS_LDEV_FILTER_QUORUM = 0x80,    // quorum LDEVs only (value unused)
  HDS_LDEV_FILTER_RESOURCE = 0x100  // one resource group: its decimal id
};

// volAttr value of an LDEV id that holds no LDEV.
constexpr int HDS_VOL_ATTR_UNDEFINED = 0x1;

namespace hdsparse {

// Appends one HDSLdevInfo per "Serial#" block of output, in listing order.
// Lines before the first "Serial#" line belong to no LDEV and are not read;
// text after the last "\n" is the last line. Keys acted on (others ignored):
// "Serial#" (with an optional "PHY_Serial#" pair on the same line), "LDEV"
// (with optional "VIR_LDEV" and "PHY_LDEV" pairs on the same line, each
// cut into its own field; in the global-virtualisation form serial and
// ldevId take the physical values and a printed LDEV that differs from the
// physical one becomes virtualLdevId),
// "VOL_TYPE", "VOL_Capacity(BLK)", "PORTs", "B_POOLID", "VOL_ATTR",
// "LDEV_NAMING", "RSGID", "NUM_PORT", "MP#". A block whose VOL_TYPE reads
// "NOTDEFINED" gets volAttr HDS_VOL_ATTR_UNDEFINED whether or not it has a
// VOL_ATTR line (the array prints none for an undefined id).
// labelFilter not empty: only blocks whose label equals labelFilter, both
// without white space, are appended. Returns the number appended; blocks,
// when given, is set to the number of blocks read (filtered ones included):
// an answer without any (an abbreviated sample, another command's answer)
// lists no LDEV at all. Linear in the size of output; no copy is made.
size_t parseGetLdevOutput(std::string_view output, std::vector<HDSLdevInfo>& ldevs,
                          std::string_view labelFilter, size_t* blocks = nullptr);

// Parses a whole "PORTs" line as printed ("PORTs : <path> : <path> ...",
// each path "<port>-<GID> <LUN> <host-group name>") into luns (cleared
// first): port, hostGroupId (split at the path token's last "-") and lun;
// the host-group name is not kept. A piece that does not begin with a
// "<port>-<digits>" token (the rest of a host-group name holding ":") is no
// path. Returns 0, leaving luns untouched, when the line is shorter than 9
// characters (no path can follow "PORTs : "); 1 otherwise.
int parsePortList(std::string_view line, std::vector<HDSLunInfo>& luns);

// Bit set of a blank-free VOL_ATTR value: "NOTDEFINED" gives exactly
// HDS_VOL_ATTR_UNDEFINED; any other value the bit of every keyword that
// occurs anywhere in it (CMD 0x2, CVS 0x4, LUSE 0x8, ALUN 0x10, ELUN 0x20,
// VVOL 0x40, QS 0x80, HDP/THP 0x100, POOL 0x200, HORC 0x400, MRCF 0x800,
// ENCD 0x1000, SYSD 0x2000, TSE 0x4000, HDT/SMRT 0x8000, OLG 0x10000,
// QRD 0x20000, JNL 0x40000, CLUN 0x80000, GAD/HA 0x100000).
int volumeAttributeMap(std::string_view value);

// The label the job writes as an LDEV's name: label, or ZR_HDS_BLANK_LABEL
// for an empty one (the array takes no empty name).
std::string writtenLabel(const std::string& label);
// writtenLabel(label) as the listing shows it once written, that is as
// parseGetLdevOutput reads it: without white space.
std::string listedLabel(const std::string& label);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSELDEV_H
