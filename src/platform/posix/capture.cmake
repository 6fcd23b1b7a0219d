# The capture unit on POSIX: libpcap linked directly, and the Linux stand-in
# for the capture driver's OID handling. Included by this folder's
# CMakeLists.txt, which hands PKDV_CAPTURE_LIBS up.
include(CheckSymbolExists)

find_path(PCAP_INCLUDE_DIR pcap/pcap.h REQUIRED)
find_library(PCAP_LIBRARY pcap REQUIRED)

target_include_directories(pkdv_capture_objects PRIVATE ${PCAP_INCLUDE_DIR})
target_sources(pkdv_capture_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/capture_libpcap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ndis_driver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/savefile_read_ahead.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux_interface.cpp)
# The driver stand-in answers OID_GEN_VENDOR_DRIVER_VERSION with the library's version.
target_compile_definitions(pkdv_capture_objects PRIVATE
  PKDV_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} PKDV_VERSION_MINOR=${PROJECT_VERSION_MINOR})

# Debian builds libpcap without remote capture: <pcap/pcap.h> declares
# pcap_findalldevs_ex but the library lacks it. Then we supply its local form.
set(CMAKE_REQUIRED_INCLUDES ${PCAP_INCLUDE_DIR})
set(CMAKE_REQUIRED_LIBRARIES ${PCAP_LIBRARY})
check_symbol_exists(pcap_findalldevs_ex "pcap/pcap.h" PKDV_HAVE_PCAP_FINDALLDEVS_EX)
unset(CMAKE_REQUIRED_INCLUDES)
unset(CMAKE_REQUIRED_LIBRARIES)
if(NOT PKDV_HAVE_PCAP_FINDALLDEVS_EX)
  message(STATUS "libpcap lacks remote capture: using pkdv's local pcap_findalldevs_ex")
  target_sources(pkdv_capture_objects PRIVATE ${CMAKE_CURRENT_LIST_DIR}/pcap_remote_compat.cpp)
endif()

set(PKDV_CAPTURE_LIBS ${PCAP_LIBRARY})
