#pragma once

namespace pkdv {

// Frees the adapter list held by enumeration, if any (module unload).
void release_adapter_list();
// In a forked child: the list, the cursor and their lock may be in the middle
// of a parent thread's enumeration; all three are forgotten (not freed).
void forget_enumeration_after_fork();

}  // namespace pkdv
