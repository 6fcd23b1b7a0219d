// pkdv.dll as a client program sees it: loaded with LoadLibrary from the test
// program's folder, its exports found by name.
#pragma once

#include <windows.h>

#include "pkdv.h"

namespace pkdv::testing {

struct DllClient {
  HMODULE module = nullptr;
  PKDV_OPEN_ADAPTER_A_FUNC* open = nullptr;
  PKDV_CLOSE_ADAPTER_FUNC* close = nullptr;
  PKDV_PACKET_SEND_EX_FUNC* send = nullptr;
  PKDV_PACKET_READ_EX_FUNC* read = nullptr;
  PKDV_CANCEL_PACKET_READ_FUNC* cancel = nullptr;
  PKDV_GET_FIRST_ADAPTER_REGISTRY_INFO_FUNC* first = nullptr;
  PKDV_GET_NEXT_ADAPTER_REGISTRY_INFO_FUNC* next = nullptr;
  PKDV_MAKE_NDIS_REQUEST_FUNC* ndis = nullptr;
  PKDV_SET_BPF_PROGRAM_FUNC* filter = nullptr;

  // False when the DLL or one of the exports is missing.
  bool load() {
    module = LoadLibraryA("pkdv.dll");
    if (!module) return false;
    return find(open, "PKDV_OpenAdapterA") && find(close, "PKDV_CloseAdapter") &&
           find(send, "PKDV_PacketSendEx") && find(read, "PKDV_PacketReadEx") &&
           find(cancel, "PKDV_CancelPacketRead") &&
           find(first, "PKDV_GetFirstAdapterRegistryInfo") &&
           find(next, "PKDV_GetNextAdapterRegistryInfo") && find(ndis, "PKDV_MakeNdisRequest") &&
           find(filter, "PKDV_SetBPFProgram");
  }
  void unload() {
    FreeLibrary(module);
    module = nullptr;
  }

 private:
  template <typename Function>
  bool find(Function*& out, const char* name) {
    out = reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return out != nullptr;
  }
};

}  // namespace pkdv::testing
