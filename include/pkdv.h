/*
 * pkdv.h - packet-driver interface over libpcap.
 *
 * Fourteen plain functions: list adapters, open and close them, install BPF
 * filters, send frames, pass NDIS OID queries and sets to the adapter, and post
 * asynchronous one-frame reads whose completion routines run later in the
 * posting thread while it waits alertably.
 *
 * Calling conventions: every PKDV_ function is cdecl (the caller removes the
 * arguments). Completion routines are called with the platform's standard
 * callback convention (__stdcall on 32-bit Windows: the routine removes its
 * own arguments).
 *
 * Widths: on 32-bit Windows every handle, pointer and context is 32 bits and
 * the records below have exactly the offsets given. On 64-bit builds the
 * pointer-sized values (AdapterHandle, the context of a read or send, and the
 * information-buffer pointer of NdisRequestRecord) widen to 64 bits; the other
 * fields keep their widths.
 */
#ifndef PKDV_H
#define PKDV_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define PKDV_CALL __cdecl
#define PKDV_CALLBACK __stdcall
#elif defined(_WIN32)
#define PKDV_CALL
#define PKDV_CALLBACK
#else
#define PKDV_CALL
#define PKDV_CALLBACK
#endif

/* ------------------------------------------------------------------------ */
/* Status codes returned to the client or written into a PacketBuffer.       */

#ifndef NDIS_STATUS_SUCCESS
#define NDIS_STATUS_SUCCESS ((uint32_t)0x00000000u)
#endif
#ifndef NDIS_STATUS_FAILURE
#define NDIS_STATUS_FAILURE ((uint32_t)0xC0000001u)
#endif
#ifndef NDIS_STATUS_ADAPTER_NOT_READY
#define NDIS_STATUS_ADAPTER_NOT_READY ((uint32_t)0xC0010011u)
#endif
#ifndef NDIS_STATUS_INVALID_LENGTH
#define NDIS_STATUS_INVALID_LENGTH ((uint32_t)0xC0010014u)
#endif
#ifndef NDIS_STATUS_INVALID_DATA
#define NDIS_STATUS_INVALID_DATA ((uint32_t)0xC0010015u)
#endif
#ifndef ERROR_NOT_SUPPORTED
#define ERROR_NOT_SUPPORTED 50L
#endif

/* An NDIS request whose driver call succeeded without returning data. */
#define PKDV_NDIS_STATUS_NO_DATA ((uint32_t)1u)

/* ------------------------------------------------------------------------ */
/* Handles and records.                                                      */

/* The capture handle of an open adapter. PKDV_INVALID_ADAPTER (all bits set)
 * means "no adapter". */
typedef uintptr_t AdapterHandle;
#define PKDV_INVALID_ADAPTER ((AdapterHandle)~(AdapterHandle)0)

#pragma pack(push, 4)
/* Receives one frame of an asynchronous read. The client allocates it, sets
 * `capacity`, and keeps it valid until the read is handed back or cancelled.
 *
 *  offset  field            written by
 *   0      client_reserved  never touched by the library
 *  24      status           library: NDIS_STATUS_SUCCESS, NDIS_STATUS_INVALID_LENGTH
 *                           (data area smaller than the frame) or
 *                           NDIS_STATUS_FAILURE (capture error; no other field written)
 *  28      sequence         library: frame number among all frames this module
 *                           captured, counting from 1
 *  36      timestamp        library: capture time, 100 ns units since 1970-01-01 UTC
 *  44      captured_length  library: bytes of the frame held by the capture
 *  48      wire_length      library: length of the frame on the wire
 *  52      capacity         client: size of the data area in bytes (only read)
 *  56      data             library: the frame's bytes (captured_length of them),
 *                           written only when status is NDIS_STATUS_SUCCESS
 *
 * 64-bit fields are little-endian, low word first, on a 4-byte boundary. */
typedef struct PacketBuffer {
  uint8_t client_reserved[24];
  uint32_t status;
  uint64_t sequence;
  uint64_t timestamp;
  uint32_t captured_length;
  uint32_t wire_length;
  uint32_t capacity;
  uint8_t data[1]; /* `capacity` bytes start here */
} PacketBuffer;
#pragma pack(pop)

#define PKDV_PACKET_BUFFER_HEADER_SIZE 56u

/* One adapter as enumeration reports it: 780 bytes, three 260-byte texts.
 * Both texts are cut to 259 characters and terminated. `reserved` is never
 * written by the library. */
typedef struct AdapterRegistryInfo {
  char description[260]; /* offset 0 */
  char reserved[260];    /* offset 260 */
  char name[260];        /* offset 520: pass this to PKDV_OpenAdapterA */
} AdapterRegistryInfo;

/* An NDIS OID query or set. Offsets on 32-bit builds (64-bit in brackets):
 *   0      client_reserved             not read
 *  20      request_type                client: 0 query, 1 set
 *  24      oid                         client
 *  28 [32] information_buffer          client: the data
 *  32 [40] information_buffer_length   client: bytes at information_buffer
 *  36 [44] bytes_written               library, for a query that returned data
 *  40 [48] bytes_needed                library, for a query that returned data
 * A set never writes back into the record or the buffer. */
typedef struct NdisRequestRecord {
  uint8_t client_reserved[20];
  uint32_t request_type;
  uint32_t oid;
  void* information_buffer;
  uint32_t information_buffer_length;
  uint32_t bytes_written;
  uint32_t bytes_needed;
} NdisRequestRecord;

#define PKDV_NDIS_REQUEST_QUERY 0u
#define PKDV_NDIS_REQUEST_SET 1u

/* Completion routine, called in one of two forms chosen at each call by the
 * platform probes:
 *  - NT family (PKDV_IsWindowsNT() or PKDV_IsWindows2000()): routine(status, count, context);
 *  - 95 family (otherwise, if PKDV_IsWindows95()): routine(context);
 *  - neither (the version query failed): the routine is not called.
 * A client that targets the 95 family declares its routine as
 * PKDV_COMPLETION_ROUTINE_95 and casts it to PKDV_COMPLETION_ROUTINE. */
typedef void(PKDV_CALLBACK* PKDV_COMPLETION_ROUTINE)(uint32_t status, uint32_t count,
                                                     uintptr_t context);
typedef void(PKDV_CALLBACK* PKDV_COMPLETION_ROUTINE_95)(uintptr_t context);

/* ------------------------------------------------------------------------ */
/* Functions. Each is declared once as a function type; the library defines  */
/* the function from the same declaration, so the two cannot drift.          */

/* Opens an adapter. `name` is a writable, terminated text as enumeration
 * reported it; a leading "\Device\" (exact case) is removed in place, the rest
 * of the text moving to the front of the caller's buffer.
 * Returns the capture handle, or PKDV_INVALID_ADAPTER when the adapter cannot be
 * opened or `name` is NULL. Frames are captured with a snapshot length of
 * 65536, not in promiscuous mode. */
typedef AdapterHandle PKDV_CALL PKDV_OPEN_ADAPTER_A_FUNC(char* name);
PKDV_OPEN_ADAPTER_A_FUNC PKDV_OpenAdapterA;

/* Wide names are not supported: always returns PKDV_INVALID_ADAPTER. */
typedef AdapterHandle PKDV_CALL PKDV_OPEN_ADAPTER_W_FUNC(const wchar_t* name);
PKDV_OPEN_ADAPTER_W_FUNC PKDV_OpenAdapterW;

/* Closes an adapter. Reads still pending on it are taken out of their queues
 * and handed back to their own threads with status NDIS_STATUS_FAILURE, so no
 * read is ever polled on a closed handle. Returns 1; a NULL or
 * PKDV_INVALID_ADAPTER handle is ignored (still 1). */
typedef uint8_t PKDV_CALL PKDV_CLOSE_ADAPTER_FUNC(AdapterHandle adapter);
PKDV_CLOSE_ADAPTER_FUNC PKDV_CloseAdapter;

/* Installs a BPF program of `length / 8` instructions (8 bytes each) read from
 * `instructions`. Returns 1, or 0 when the capture library refuses it, when
 * `instructions` is NULL with a non-zero length, or the handle is NULL or
 * PKDV_INVALID_ADAPTER. */
typedef uint8_t PKDV_CALL PKDV_SET_BPF_PROGRAM_FUNC(AdapterHandle adapter, const void* instructions,
                                                    uint32_t length);
PKDV_SET_BPF_PROGRAM_FUNC PKDV_SetBPFProgram;

/* Sends one frame synchronously. `*sent` is set to 0, then to `length` on
 * success. The completion routine runs in the calling thread before the
 * function returns, with the same status the function returns
 * (NDIS_STATUS_SUCCESS or NDIS_STATUS_FAILURE) and `*sent` as its count.
 * A NULL frame or handle gives NDIS_STATUS_FAILURE; a NULL `sent` is not
 * written (the routine then gets a count of 0). */
typedef uint32_t PKDV_CALL PKDV_PACKET_SEND_EX_FUNC(AdapterHandle adapter, const void* frame,
                                                    uint32_t length, uint32_t* sent,
                                                    uintptr_t context,
                                                    PKDV_COMPLETION_ROUTINE routine);
PKDV_PACKET_SEND_EX_FUNC PKDV_PacketSendEx;

/* Enumeration: the first call (re)reads the adapter list, each next call moves
 * on by one adapter. Both fill `*info` and return 0, or return
 * ERROR_NOT_SUPPORTED (50) when no (further) adapter can be reported, leaving
 * `*info` unchanged. Adapters whose description contains
 * "MS Tunnel Interface Driver" are skipped. An adapter listed without a
 * description is reported with an empty description. A NULL `info` gives 50.
 * Drive enumeration from one thread at a time. */
typedef uint32_t PKDV_CALL PKDV_GET_FIRST_ADAPTER_REGISTRY_INFO_FUNC(AdapterRegistryInfo* info);
PKDV_GET_FIRST_ADAPTER_REGISTRY_INFO_FUNC PKDV_GetFirstAdapterRegistryInfo;
typedef uint32_t PKDV_CALL PKDV_GET_NEXT_ADAPTER_REGISTRY_INFO_FUNC(AdapterRegistryInfo* info);
PKDV_GET_NEXT_ADAPTER_REGISTRY_INFO_FUNC PKDV_GetNextAdapterRegistryInfo;

/* Queries (request_type 0) or sets (1) an NDIS OID on the adapter's driver.
 * `overlapped` is handed to the driver unchanged; only `wait` true is
 * supported. Returns:
 *   NDIS_STATUS_ADAPTER_NOT_READY  NULL or invalid handle, or no driver reachable
 *   NDIS_STATUS_INVALID_DATA       `request` NULL, or a type other than 0 or 1
 *   NDIS_STATUS_FAILURE            `wait` false, or no memory for the driver buffer
 *   0                              the driver returned data (query: copied to the
 *                                  information buffer, at most its length, and
 *                                  bytes_written = bytes_needed = bytes copied),
 *                                  or it failed while completing asynchronously
 *   1 (PKDV_NDIS_STATUS_NO_DATA)   the driver succeeded without returning data
 *   ERROR_NOT_SUPPORTED (50)       the driver refused the request at once;
 *                                  PKDV_GetLastError() then tells why. */
typedef uint32_t PKDV_CALL PKDV_MAKE_NDIS_REQUEST_FUNC(AdapterHandle adapter,
                                                       NdisRequestRecord* request, void* overlapped,
                                                       uint8_t wait);
PKDV_MAKE_NDIS_REQUEST_FUNC PKDV_MakeNdisRequest;

/* Platform probes: each returns 0 or 1 (all 32 bits of the result register).
 *   PKDV_IsWindowsNT    NT line, any version except 5.0
 *   PKDV_IsWindows2000  NT line, version 5.0
 *   PKDV_IsWindows95    95 line
 * All three return 0 when the version cannot be read. */
typedef uint8_t PKDV_CALL PKDV_IS_WINDOWS_NT_FUNC(void);
PKDV_IS_WINDOWS_NT_FUNC PKDV_IsWindowsNT;
typedef uint8_t PKDV_CALL PKDV_IS_WINDOWS_2000_FUNC(void);
PKDV_IS_WINDOWS_2000_FUNC PKDV_IsWindows2000;
typedef uint8_t PKDV_CALL PKDV_IS_WINDOWS_95_FUNC(void);
PKDV_IS_WINDOWS_95_FUNC PKDV_IsWindows95;

/* The calling thread's last platform error. */
typedef uint32_t PKDV_CALL PKDV_GET_LAST_ERROR_FUNC(void);
PKDV_GET_LAST_ERROR_FUNC PKDV_GetLastError;

/* Posts an asynchronous read of one frame on `adapter` into `buffer`. Returns
 * at once: 1 when the read is queued, 0 when it is not (NULL buffer, or no
 * memory); a read that was not queued never reaches its routine.
 * Reads of a thread are filled in the order they were posted. The routine is
 * called in the posting thread, during one of its alertable waits
 * (SleepEx/WaitFor...Ex with alertable TRUE on Windows, PKDV_WaitAlertable
 * elsewhere), with status = buffer->status, count = the value behind
 * `transferred` at that moment, and `context`. `buffer` and `transferred`
 * must stay valid until then, or until the read is cancelled. */
typedef uint32_t PKDV_CALL PKDV_PACKET_READ_EX_FUNC(AdapterHandle adapter, PacketBuffer* buffer,
                                                    uint32_t* transferred, uintptr_t context,
                                                    PKDV_COMPLETION_ROUTINE routine);
PKDV_PACKET_READ_EX_FUNC PKDV_PacketReadEx;

/* Takes back every read still pending with this `buffer`, at most one per
 * thread that posted it, whatever thread posted it. A read already filled and
 * waiting to be handed back is not taken back. When this returns, no read
 * with `buffer` is pending. `adapter` is not used. Returns 1 (also for a NULL
 * buffer, which removes nothing). */
typedef uint32_t PKDV_CALL PKDV_CANCEL_PACKET_READ_FUNC(AdapterHandle adapter,
                                                        PacketBuffer* buffer);
PKDV_CANCEL_PACKET_READ_FUNC PKDV_CancelPacketRead;

#ifndef _WIN32
/* POSIX builds only: the stand-in for an alertable wait. The calling thread
 * waits up to `milliseconds` (PKDV_INFINITE: no limit), running every
 * completion queued to it, and returns PKDV_WAIT_IO_COMPLETION (0xC0) as
 * soon as it has run at least one, or 0 when the time passed without any. */
#define PKDV_INFINITE 0xFFFFFFFFu
#define PKDV_WAIT_IO_COMPLETION 0xC0u
typedef uint32_t PKDV_CALL PKDV_WAIT_ALERTABLE_FUNC(uint32_t milliseconds);
PKDV_WAIT_ALERTABLE_FUNC PKDV_WaitAlertable;
#endif

#ifdef __cplusplus
}
#endif

#endif /* PKDV_H */
