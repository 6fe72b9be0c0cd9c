#pragma once
// A scenario file: the simulated arrays to create, the host and the job, the
// devices, and the calls in order with the result expected of each. New
// end-to-end cases are new files; the reader is the project's JSON library.
//
// {
//   "name": "...",
//   "arrays": [{ "serial": "412345", "model": "M8S", "micro": "80-06-70/00",
//     "controlHostId": 1,   (given to a device bound to this array; default: kept)
//     "pools": [{"id": 5, "name": "TIPOOL01", "type": "HTI", "usage": 12}],
//     "ldevs": [{"id": 256, "blocks": 2097152, "pool": 6, "label": "src_0",
//                "attrs": ["CVS", "HDP"]}],   (the default attributes)
//     "ports": [{"name": "CL1-A", "wwn": "50060e8007dd3300", "type": "FIBRE",
//       "hostGroups": [{"gid": 1, "name": "mahost01_hg",
//                       "wwns": ["210000e08b0256f8"], "luns": [[0, 256]]}]}],
//     "resourceGroups": [{"name": "vsm1", "id": 1, "vSerial": "412345", "vModel": "M8S"}],
//       (an LDEV joins one with "resourceGroup": 1 and "virtualId": 256)
//     "remotePairs": [{"ldev": 256, "mu": 0, "role": "P-VOL", "status": "PAIR",
//                      "fence": "ASYNC", "rcuSerial": "412399", "partner": "768"}],
//     "copyGroups": [{"name": "CG1", "ldevGroup": "CG1_DG", "mu": "h1", "jid": "3",
//                     "commitAfterWaits": 0, "qIssued": "01003408ee",
//                     "qCommitted": "01003408ee"}],
//     "commandDevice": {"path": "/dev/sdc", "ldev": 2047} }],
//   "user": "cciuser", "password": "secret",
//   "host": {"name": "mahost01", "initiators": ["210000e08b0256f8"], "hostNumber": 31},
//   "remoteAgents": [{"name": "ma2", "initiators": ["..."]}],
//   "settings": {"~Tessavon": {"nZRHDSMountWaitTimeInSecs": 30}},
//   "job": {"config": {"SMCONFIG_NAME_TI_POOL_NAME_FOR_SVOLS": "5"}, "subclient": 7,
//           "client": 101, "mountHost": 101},
//   "devices": [{"name": "snap0", "serial": "412345", "ldev": 256,
//                "controlHostId": 1, "config": {...}}],
//   "steps": [{"title": "prepare", "call": "zrso_prepareDevices",
//              "devices": [0, 1],  (default: every device)
//              "copyMetadata": [{"from": 0, "to": 2, "ids": [6, 71], "as": [82, 71]}],
//              "arrayChanges": [{"kind": "removePair", "ldev": 256},
//                               {"kind": "setPairState", "ldev": 257, "state": "PSUE"}],
//              "faults": [{"kind": "fail", "tool": "raidcom", "match": "add snapshot",
//                          "exitCode": 1, "err": "...", "times": 1}],
//              "expect": {"result": 0, "status": 1, "statuses": {"1": 2},
//                         "errorCode": {"0": 62504}, "errorText": {"0": "..."},
//                         "snapshotPairs": 4, "pairState": "PSUS", "svols": 0,
//                         "lunPaths": 4, "hostDevices": 5, "remoteRequests": 1}}],
//   "final": {"snapshotPairs": 0, "svols": 0, "lunPaths": 4}
// }
#include <map>
#include <string>
#include <vector>

#include "sim/ccisim_fixture.h"
#include "testhost/ZrTestHost.h"

struct ZrHostGroupSpec {
  int gid = 0;
  std::string name;
  std::vector<std::string> wwns;
  std::vector<std::pair<int, int>> luns;  // (LUN, LDEV)
};

struct ZrPortSpec {
  std::string name;
  std::string wwn;
  std::string type = "FIBRE";
  std::vector<ZrHostGroupSpec> hostGroups;
};

struct ZrArraySpec {
  std::string serial;
  int controlHostId = -1;  // the control host a device bound to it gets; -1 keeps its own
  std::string model = "M8S";
  std::string micro = "80-06-70/00";
  std::vector<ccisim::Pool> pools;
  std::vector<ccisim::Ldev> ldevs;
  std::vector<ZrPortSpec> ports;
  struct ResourceGroup {
    std::string name;
    int id = 0;
    std::string vSerial;  // a virtual storage machine's serial ("" none)
    std::string vModel;
  };
  std::vector<ResourceGroup> resourceGroups;
  std::vector<ccisim::RemotePair> remotePairs;  // TrueCopy, UR and GAD pairs
  std::vector<ccisim::CopyGroup> copyGroups;
  std::string commandDevicePath;  // "" none
  int commandDeviceLdev = -1;     // -1: the array's highest LDEV id
};

struct ZrScenarioDevice {
  std::string name;
  std::string serial;
  int ldev = 0;
  int controlHostId = 1;
  int replicationType = 0;
  bool replicationEnabled = false;
  bool postSnapEnabled = false;
  std::map<std::string, std::string> configTexts;
  std::map<std::string, int> configInts;
};

// What a step expects; a field left at its "unset" value is not checked.
struct ZrExpectation {
  bool hasResult = false;
  int result = 0;
  int status = -1;                                       // every device of the call
  std::map<int, int> statuses;                           // device index -> status
  std::map<int, int> errorCodes;                         // device index -> code
  std::map<int, std::string> errorTexts;                 // device index -> text it holds
  std::map<int, std::vector<std::string>> metadataKeys;  // index -> keys of metadata 6
  int snapshotPairs = -1;                                // on every array together
  std::string pairState;                                 // every snapshot pair's state
  int svols = -1;                                        // LDEVs labelled "QB_SVOL_..."
  int lunPaths = -1;                                     // LU paths on every array together
  int hostDevices = -1;                                  // OS devices the host sees
  std::vector<int> metadataEmpty;                        // ids empty on every device of the call
  int remoteRequests = -1;                               // requests the step ran on remote agents
};

// A change made to an array behind the plug-in's back before a step, as
// another administrator or a failing array would: "removePair" deletes every
// snapshot pair of the LDEV; "setPairState" gives them the state.
struct ZrArrayChange {
  std::string kind;
  std::string serial;  // default: the first array
  int ldev = 0;
  std::string state;
};

// The host copying stored metadata from one device object to another before
// a step, as it does for the objects of a replica (ids empty: every id).
// Entry ids[i] is stored under as[i] when "as" is given (a primary's device
// record 6 becomes the replica's partner record 82), else under its own id.
struct ZrMetadataCopy {
  int from = 0;
  int to = 0;
  std::vector<int> ids;
  std::vector<int> as;
};

struct ZrScenarioStep {
  std::string title;
  std::vector<ZrArrayChange> arrayChanges;
  std::vector<ZrMetadataCopy> metadataCopies;
  std::string call;          // the export
  std::vector<int> devices;  // empty: every device
  std::vector<ccisim::Fault> faults;
  bool clearFaults = false;
  ZrExpectation expect;
};

struct ZrScenario {
  std::string name;
  std::string description;
  std::vector<ZrArraySpec> arrays;
  std::string user = "cciuser";
  std::string password = "secret";
  std::string hostName = "mahost01";
  std::vector<std::string> initiators;
  long hostNumber = 0x1F;
  std::vector<ZrRemoteAgent> remoteAgents;
  std::map<std::string, std::map<std::string, std::string>> settings;
  std::map<std::string, std::string> jobTexts;
  std::map<std::string, int> jobInts;
  int clockScale = 100;  // "clockScale": see ZrCompressedClock
  int subclientId = 7;
  int clientId = 101;     // the job's source client
  int mountHostId = 101;  // where snapshots are mounted
  std::vector<ZrScenarioDevice> devices;
  std::vector<ZrScenarioStep> steps;
  ZrExpectation final;  // checked after the last step (array fields only)
};

// Reads a scenario from JSON text; false with *error naming what is wrong.
bool zrParseScenario(const std::string& text, ZrScenario& out, std::string* error);
bool zrLoadScenario(const std::string& path, ZrScenario& out, std::string* error);
