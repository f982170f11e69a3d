#include <algorithm>
#include <cstring>

#include "standin/standin.h"
#include "standin/win32.h"

namespace standin {
namespace {

NetapiState g_netapi;
void ResetNetapi() { g_netapi = NetapiState(); }
ResetHook netapiHook(ResetNetapi);

bool Known(UCHAR lana) {
  return std::find(g_netapi.lanas.begin(), g_netapi.lanas.end(), lana) != g_netapi.lanas.end();
}

UCHAR Execute(NCB* ncb) {
  switch (ncb->ncb_command) {
    case NCBENUM: {
      if (!ncb->ncb_buffer || ncb->ncb_length < 1) return NRC_BUFLEN;
      size_t room = std::min<size_t>(ncb->ncb_length - 1, MAX_LANA + 1);
      size_t n = std::min(room, g_netapi.lanas.size());
      ncb->ncb_buffer[0] = static_cast<UCHAR>(n);
      std::copy(g_netapi.lanas.begin(), g_netapi.lanas.begin() + n, ncb->ncb_buffer + 1);
      return NRC_GOODRET;
    }
    case NCBRESET:
      return Known(ncb->ncb_lana_num) ? NRC_GOODRET : NRC_BRIDGE;
    case NCBASTAT: {
      if (!Known(ncb->ncb_lana_num)) return NRC_BRIDGE;
      if (!ncb->ncb_buffer || ncb->ncb_length < sizeof(ADAPTER_STATUS)) return NRC_BUFLEN;
      ADAPTER_STATUS status = {};
      auto it = g_netapi.addresses.find(ncb->ncb_lana_num);
      if (it != g_netapi.addresses.end()) memcpy(status.adapter_address, it->second.data(), 6);
      memcpy(ncb->ncb_buffer, &status, sizeof status);
      return NRC_GOODRET;
    }
    default:
      return NRC_ILLCMD;
  }
}

}  // namespace

NetapiState& Netapi() { return g_netapi; }

}  // namespace standin

using namespace standin;

// Synchronous calls only: the code is stored in the block and returned.
UCHAR APIENTRY Netbios(PNCB ncb) {
  g_netapi.received.push_back(*ncb);
  auto scripted = g_netapi.returnCodes.find(static_cast<int>(g_netapi.received.size()));
  UCHAR code = scripted != g_netapi.returnCodes.end() ? scripted->second : Execute(ncb);
  ncb->ncb_retcode = code;
  ncb->ncb_cmd_cplt = code;
  return code;
}
