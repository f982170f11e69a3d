// netapi32 for the host stand-in: Netbios with the control block and
// buffer layouts of the platform.
#ifndef VEXO_STANDIN_NETAPI32_H
#define VEXO_STANDIN_NETAPI32_H

#include <array>
#include <map>
#include <vector>

#include "standin/types.h"

#define NCBNAMSZ 16
#define MAX_LANA 254
#define NCBRESET 0x32
#define NCBASTAT 0x33
#define NCBENUM 0x37
#define NRC_GOODRET 0x00
#define NRC_BUFLEN 0x01
#define NRC_ILLCMD 0x03
#define NRC_BRIDGE 0x23

typedef UCHAR* PUCHAR;

typedef struct _NCB {
  UCHAR ncb_command;
  UCHAR ncb_retcode;
  UCHAR ncb_lsn;
  UCHAR ncb_num;
  PUCHAR ncb_buffer;
  WORD ncb_length;
  UCHAR ncb_callname[NCBNAMSZ];
  UCHAR ncb_name[NCBNAMSZ];
  UCHAR ncb_rto;
  UCHAR ncb_sto;
  void(CALLBACK* ncb_post)(struct _NCB*);
  UCHAR ncb_lana_num;
  UCHAR ncb_cmd_cplt;
  UCHAR ncb_reserve[10];
  HANDLE ncb_event;
} NCB, *PNCB;

typedef struct _ADAPTER_STATUS {
  UCHAR adapter_address[6];
  UCHAR rev_major;
  UCHAR reserved0;
  UCHAR adapter_type;
  UCHAR rev_minor;
  WORD duration;
  WORD frmr_recv;
  WORD frmr_xmit;
  WORD iframe_recv_err;
  WORD xmit_aborts;
  DWORD xmit_success;
  DWORD recv_success;
  WORD iframe_xmit_err;
  WORD recv_buff_unavail;
  WORD t1_timeouts;
  WORD ti_timeouts;
  DWORD reserved1;
  WORD free_ncbs;
  WORD max_cfg_ncbs;
  WORD max_ncbs;
  WORD xmit_buf_unavail;
  WORD max_dgram_size;
  WORD pending_sess;
  WORD max_cfg_sess;
  WORD max_sess;
  WORD max_sess_pkt_size;
  WORD name_count;
} ADAPTER_STATUS, *PADAPTER_STATUS;

typedef struct _NAME_BUFFER {
  UCHAR name[NCBNAMSZ];
  UCHAR name_num;
  UCHAR name_flags;
} NAME_BUFFER, *PNAME_BUFFER;

typedef struct _LANA_ENUM {
  UCHAR length;
  UCHAR lana[MAX_LANA + 1];
} LANA_ENUM, *PLANA_ENUM;

static_assert(sizeof(ADAPTER_STATUS) == 60, "ADAPTER_STATUS is 60 bytes");
static_assert(sizeof(NAME_BUFFER) == 18, "NAME_BUFFER is 18 bytes");
static_assert(sizeof(LANA_ENUM) == 256, "LANA_ENUM is 256 bytes");

UCHAR APIENTRY Netbios(PNCB ncb);

namespace standin {

struct NetapiState {
  // The LANA numbers NCBENUM lists, in order, and each one's adapter.
  std::vector<UCHAR> lanas = {3};
  std::map<UCHAR, std::array<UCHAR, 6>> addresses = {{3, {{0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC}}}};
  // By the ordinal of the call (1-based): the return code to answer
  // instead of carrying the command out (the buffers are left as they are).
  std::map<int, UCHAR> returnCodes;

  std::vector<NCB> received;  // each control block as it arrived
};
NetapiState& Netapi();

}  // namespace standin

#endif
