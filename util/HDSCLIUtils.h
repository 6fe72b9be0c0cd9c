#pragma once
// ZRHDSCLIUtils: the host-utility functions of the plug-in. Their log lines
// carry the function name "ZRHDSCLIUtils::" plus the function's name. The
// functions are grouped in sections, each implemented in its own
// util/HDSCLIUtils*.cpp unit.
#include <map>
#include <string>
#include <vector>

#include "host/ZRSOSnapInfo.h"
#include "records/HDSRecords.h"

namespace ZRHDSCLIUtils {

// ===========================================================================
// Errors, statuses and arguments (util/HDSCLIUtilsErrors.cpp)
// ===========================================================================

// Records (code, text) on device: first the user-visible message at level 2,
// then the error pair. Does nothing when device or text is null. Does not
// look at an error recorded before.
void SetError(ZRSO::SnapInfo* device, int code, const char* text);

// 1 when the host's arguments can be used, 0 otherwise. Refuses, in this
// order, a count below 1, a null list or null first entry, a null utility
// object, and any null entry among the first count entries; each refusal is
// one line in the host debug log (level -1). Records nothing on a device.
int validateInputParams(ZRSO::SnapInfo** devices, short count, ZRSO::ZROSUtil* util);

// Folds the statuses of the first count devices: 0 when all have wanted
// (also for count 0), 1 when none has it, 2 otherwise. Null entries count
// as not having it.
int getReturnStatus(ZRSO::SnapInfo** devices, short count, int wanted);

// Cleans a fixed-width text field of length bytes (not necessarily
// terminated): every '*' becomes a blank in the caller's buffer itself, and
// the result is the field up to its first 0 byte (if any) without its
// trailing white space. "" for a null field, length 0 or a leading 0 byte.
std::string trimSpaces(unsigned char* field, int length);

// ===========================================================================
// SCSI inquiry, array properties, stored metadata, map and unmap preparation,
// post-map discovery, GAD pair role (util/HDSCLIUtilsInquiry.cpp,
// HDSCLIUtilsProperties.cpp, HDSCLIUtilsMetadata.cpp, HDSCLIUtilsMapUnmap.cpp,
// HDSCLIUtilsDiscovery.cpp, HDSCLIUtilsGAD.cpp).
// ===========================================================================

// ---- SCSI inquiry ----------------------------------------------------------

// Sends INQUIRY (page, EVPD when vpd is odd, allocation length 255) to the
// OS device at path through the host's device tree, 10 s time-out; buffer
// (length bytes) is zeroed first. 1 sent, 0 failed (logged to the host debug
// log; nothing is thrown).
int DoSCSIInquiry(std::string path, int page, int vpd, unsigned char* buffer, int length);

// Standard page of path (or of the VMware device text, which holds key
// "standardinqury") into data: vendor, product, Hitachi flag, serial and
// model (decoded for Hitachi devices; a serial form it cannot decode stays
// raw with model "UNKNOWN"), LDEV number in decimal. 1 / 0.
int HDSSCSIInquiryPageSTD(std::string path, ZRHDSSCSIInquiryData& data);

// Fills buffer (zeroed first) with the standard page held as hexadecimal
// text under key "standardinqury", at most 255 bytes. Always 1.
int getStdInquiryDetailsForVMware(std::string text, unsigned char* buffer, int length);

// Standard page, then page 0xE2 (base serial, base LDEV, model code) into
// data; logs through device (may be null). A VMware device without an E2
// page gives 1 with the standard data only. 1 / 0.
int HDSSCSIInquiryPageVPD(std::string path, ZRSO::SnapInfo* device, ZRSO::ZROSUtil* util,
                          ZRHDSSCSIInquiryData& data);

// Page 0xE2 of a VMware device from the host's page query. length: in the
// buffer size, out the bytes decoded (0 when the host has no E2 page).
int getPageE2DetailsForVMware(std::string text, ZRSO::SnapInfo* device, ZRSO::ZROSUtil* util,
                              unsigned char* buffer, int& length);

// True when the device's client type text says "idatype" "vmware".
bool IsVMware(ZRSO::SnapInfo* device);

// ---- Array properties ------------------------------------------------------

// Fills options from the job's snap configuration, the array-details text
// and the machine settings, and checks CU range and pool. REQUIRES:
// options.isHTI already set. 1 done; 0 failed, with 62005 (array details
// unreadable, or user name, password or array id missing) or 62008 (CU range,
// Thin Image pool) recorded on device.
int getArrayProperties(ZRSO::SnapInfo* device, ZRHDSSnapOptions& options);

// "engineId" of the array-details text (73 = Thin Image); 0 when unknown.
short getSnapEngineType(ZRSO::SnapInfo* device);

// "arrayId" of the array-details text; "" when unknown.
std::string getSnapArrayId(ZRSO::SnapInfo* device);

// The remote media agent configured for the device's job: the setting
// sZRHDSRemoteSnapMAName when set, else the job's
// "SMCONFIG_NAME_REMOTE_SNAP_MA"; name is left unchanged when neither is set
// (callers empty it first; empty means "run here"). Always 1.
int getRemoteMAName(ZRSO::SnapInfo* device, std::string& name);

// The documented maximum of a wait setting (seconds, or retries for the
// retry counts); -1 for a key that is no wait setting.
int waitSettingMaximum(const char* key);
// value, or the maximum of key when value is above it. Every reader of a
// wait setting passes the value read through it.
int boundedSetting(const char* key, int value);

// ---- Stored metadata readers ----------------------------------------------
// Entries are "key:value**"; a key is matched only where an entry begins, so
// a value that holds another key's text (a label "x23OS:y") is never read as
// that key. Each reader fills only its own fields.

// A record that the host cut at its buffer (a text as long as the buffer
// less its terminator), one holding text that is no entry of the record (a
// value that held the separator), a key written twice or a key of another
// record is refused whole: nothing of it is decoded, the reader's result is
// 0, the refusal is logged at level 2 and, when refusal is given, said there
// ("metadata 6 holds key 3L twice").
//
// Metadata 6 (82 when alternate): keys "1S" to "15RM". 0 when the host
// refuses the read or the record is refused; 1 otherwise, also for empty
// metadata.
int getInfoFromUniqueMetadata(ZRSO::SnapInfo* device, ZRHDSMetadataInfo& info, bool alternate,
                              std::string* refusal = nullptr);
// Metadata id (65 or 68): "16ON", "22LI", "17HG", "23OS", "24VI". 1 read and
// decoded; 0 unreadable, empty or refused (then *refusal is not empty).
int getInfoFromHostGroupMetadata(ZRSO::SnapInfo* device, short id, ZRHDSMetadataInfo& info,
                                 std::string* refusal = nullptr);
// Metadata 71, the vendor name; "HITACHI" when none is stored. Always 1.
int getInfoFromVendorMetadata(ZRSO::SnapInfo* device, ZRHDSMetadataInfo& info);
// Metadata 90: "18MC", "19MP", "20QM", "21MH". 1, or 0 when the record is
// refused.
int getInfoFromReplicationMetadata(ZRSO::SnapInfo* device, ZRHDSMetadataInfo& info,
                                   std::string* refusal = nullptr);

// ---- Stored value checks (util/HDSCLIUtilsRecords.cpp) ---------------------
// Each gives "" when every non-empty value of its record has the shape the
// plug-in writes, else a text naming the first key and value that do not
// ("key 13SM holds [x], not an MU number (0 to 1023)"). Serials are decimal
// 1 to 999999, LDEVs decimal 0 to 65279, MUs decimal 0 to 1023, HORCM
// instances decimal 0 to 9999, snapshot groups "QB_" and at most 32 letters,
// digits or "_".
std::string uniqueRecordFault(const ZRHDSMetadataInfo& md);   // 6 / 82
std::string mapRecordFault(const ZRHDSMetadataInfo& md);      // 65 / 68
std::string replicationRecordFault(const ZRHDSMetadataInfo& md);  // 90
std::string horcmInstanceFault(const std::string& text);      // 75
// True for a snapshot group name of the shape above.
bool isSnapshotGroupName(const std::string& name);
// value for a message: at most 64 characters (the length said when longer),
// control characters as '?'.
std::string quotedValue(const std::string& value);

// ---- Map and unmap preparation --------------------------------------------

// The host identifier: for a VMware source with useVmHost the VM host's
// identifier from the host, otherwise this machine's name. 0 when it cannot
// be had (the machine name lookup failing or giving an empty name included).
int getHostIdentifier(ZRSO::SnapInfo*& device, std::string& out, bool useVmHost);

// Rescans the host's buses; option "" passes null. The host's result.
bool refreshSystemBus(ZRSO::ZROSUtil* util, std::vector<std::string> first,
                      std::vector<std::string> second, std::string option);

// The host's OS device list for hostId and vendor, growing the buffer when
// the host asks (at most 4 calls). 1 with a non-empty list, 0 otherwise.
int getDeviceList(ZRSO::SnapInfo*& device, ZRSO::ZROSUtil*& util, std::vector<std::string>& out,
                  const std::string& hostId, const std::string& vendor);

bool isColon(char c);

// Initiators of this machine (host empty) or of host: only those of the
// first listed initiator's kind (isIscsi tells which). 1 / 0.
int detectHbaList(ZRSO::SnapInfo*& device, ZRSO::ZROSUtil* util, std::vector<std::string>& out,
                  const std::string& host, const std::string& second, bool& isIscsi);

// One initiator of host; a Fibre Channel name is returned without ':' and in
// upper case. The host may ask for a larger buffer at most 3 times. 1 / 0.
int detectHba(ZRSO::SnapInfo*& device, ZRSO::ZROSUtil* util, std::string& out,
              const std::string& host, const std::string& second, bool& isIscsi);

// Fills params before a map or unmap: host identifiers, initiators, the OS
// devices seen now and, for an unmap, the Hitachi devices filed under
// deviceKey(serial, LDEV). 1; 0 after recording 62002, 62003 or 62006 on
// device (params untouched).
int PrepareToMapUnmap(ZRSO::SnapInfo*& device, ZRSO::ZROSUtil* util, const bool& isUnmap,
                      ZRMapInitiatorParams& params);

// Key of ZRMapInitiatorParams::devicesByDevNo: the standard-page array serial
// and LDEV number (both decimal text), so that equal LDEV numbers of two
// arrays never share an entry.
std::string deviceKey(const std::string& arraySerial, const std::string& ldev);

// Appends each ","-separated item of text not yet in out; "" empties out.
// Always 1.
int convertHostGroupStringToVector(const std::string& text, std::vector<std::string>& out);
// The items joined by ",".
std::string convertHostGroupVectorToString(const std::vector<std::string>& list);

// ---- Post-map and post-unmap discovery ------------------------------------

// Rescans and polls (nZRHDSMountWaitTimeInSecs, at least 30 s) until the OS
// device of every snap is found by standard inquiry; status 12 on found
// snaps, 13 on the others. 1 all found; 0 after recording 60509 on snaps[0].
int FinishPostMap(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util,
                  ZRMapInitiatorParams& params);

// One rescan that removes the OS devices that showed the unmapped (status
// 14) snaps' targets. The rescan's success.
bool FinishPostUnmap(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util,
                     ZRMapInitiatorParams& params);

// ---- GAD pair role --------------------------------------------------------

// Rewrites metadata 6 of every device of a GAD pair ("1S", "3L", "5M", "6RS",
// "8RL" and the virtual identities), base and partner swapped where the
// S-VOL side is active (the partner serial from setting
// sZRHDSArrayGadPairedWith_<1S>, the device bound to it in the host's
// database). 1; 0 after recording 62005 or 62008 on snaps[0].
int setGADPairInfo(ZRSO::SnapInfo** snaps, short count);

}  // namespace ZRHDSCLIUtils

// The error, status and argument functions are called unqualified across the
// plug-in.
using ZRHDSCLIUtils::getReturnStatus;
using ZRHDSCLIUtils::SetError;
using ZRHDSCLIUtils::trimSpaces;
using ZRHDSCLIUtils::validateInputParams;
