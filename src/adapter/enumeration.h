#pragma once

namespace pkdv {

// Frees the adapter list held by enumeration, if any (module unload).
void release_adapter_list();

}  // namespace pkdv
