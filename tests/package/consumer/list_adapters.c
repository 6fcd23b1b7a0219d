/* Lists the adapters pkdv can open, one per line: name, a tab, description.
 * Exits 0 when the enumeration ends the documented way (ERROR_NOT_SUPPORTED
 * after the last adapter), 1 otherwise. */
#include <pkdv.h>
#include <stdio.h>

int main(void) {
  AdapterRegistryInfo info;
  unsigned count = 0;
  uint32_t status = PKDV_GetFirstAdapterRegistryInfo(&info);
  while (status == NDIS_STATUS_SUCCESS) {
    printf("%s\t%s\n", info.name, info.description);
    ++count;
    status = PKDV_GetNextAdapterRegistryInfo(&info);
  }
  if (status != ERROR_NOT_SUPPORTED) {
    fprintf(stderr, "enumeration ended with status 0x%08lx\n", (unsigned long)status);
    return 1;
  }
  printf("%u adapters\n", count);
  return 0;
}
