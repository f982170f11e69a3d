#include "stats/mac_id.h"

#include <string.h>

#include "base/bounded_string.h"
#include "base/platform.h"
#include "base/platform_libraries.h"

namespace {

// The status record followed by room for the adapter's name table.
struct AdapterStatusBuffer {
  ADAPTER_STATUS status;
  NAME_BUFFER names[30];
};
static_assert(sizeof(AdapterStatusBuffer) == 600, "adapter status buffer is 600 bytes");
static_assert(sizeof(LANA_ENUM) == 256, "LANA list is 256 bytes");

// Each call starts from a block zeroed in full: no event, no post routine,
// so every call completes before Netbios returns.
UCHAR CallNetbios(const NetApiEntries* netapi, UCHAR command, UCHAR lana, void* buffer, WORD length) {
  NCB ncb;
  memset(&ncb, 0, sizeof ncb);
  ncb.ncb_command = command;
  ncb.ncb_lana_num = lana;
  ncb.ncb_buffer = static_cast<PUCHAR>(buffer);
  ncb.ncb_length = length;
  if (command == NCBASTAT) ncb.ncb_callname[0] = '*';  // the local adapter; the rest stays zero
  return netapi->Netbios(&ncb);
}

}  // namespace

void GetMacId(char (&text)[kMacIdChars]) {
  text[0] = '\0';
  const NetApiEntries* netapi = NetApi();
  if (!netapi) return;  // no NetBIOS at all: no identifier
  // Only the count decides: the enumeration's own code is not looked at.
  LANA_ENUM lanas;
  memset(&lanas, 0, sizeof lanas);
  CallNetbios(netapi, NCBENUM, 0, &lanas, sizeof lanas);
  if (lanas.length == 0) return;
  const UCHAR lana = lanas.lana[0];

  // A failed reset shows in the status query that follows.
  CallNetbios(netapi, NCBRESET, lana, nullptr, 0);

  AdapterStatusBuffer adapter;
  memset(&adapter, 0, sizeof adapter);
  if (CallNetbios(netapi, NCBASTAT, lana, &adapter, sizeof adapter) != NRC_GOODRET) return;

  const UCHAR* a = adapter.status.adapter_address;
  BoundedFormat(text, kMacIdChars, "%02X%02X%02X%02X%02X%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
}
