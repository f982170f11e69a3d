/* The machine identifier's probe as the installer makes it: the first
 * LANA's adapter status through NetBIOS (enumerate, reset, status of "*").
 * netbios is the Netbios entry point, linked or looked up. */
#ifndef VEXO_BENCHMARK_ADAPTER_PROBE_H
#define VEXO_BENCHMARK_ADAPTER_PROBE_H
#include <windows.h>
#include <nb30.h>

typedef struct {
  ADAPTER_STATUS status;
  NAME_BUFFER names[30];
} AdapterStatus;

static void ProbeAdapter(UCHAR(APIENTRY* netbios)(PNCB), AdapterStatus* adapter) {
  LANA_ENUM lanas;
  NCB ncb;
  ZeroMemory(&lanas, sizeof lanas);
  ZeroMemory(adapter, sizeof *adapter);
  ZeroMemory(&ncb, sizeof ncb);
  ncb.ncb_command = NCBENUM;
  ncb.ncb_buffer = (PUCHAR)&lanas;
  ncb.ncb_length = sizeof lanas;
  netbios(&ncb);
  if (lanas.length == 0) return;
  ZeroMemory(&ncb, sizeof ncb);
  ncb.ncb_command = NCBRESET;
  ncb.ncb_lana_num = lanas.lana[0];
  netbios(&ncb);
  ZeroMemory(&ncb, sizeof ncb);
  ncb.ncb_command = NCBASTAT;
  ncb.ncb_lana_num = lanas.lana[0];
  ncb.ncb_callname[0] = '*';
  ncb.ncb_buffer = (PUCHAR)adapter;
  ncb.ncb_length = sizeof *adapter;
  netbios(&ncb);
}

#endif
