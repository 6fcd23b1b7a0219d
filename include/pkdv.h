/*
 * pkdv.h - packet-driver interface over libpcap.
 *
 * Fourteen plain functions (POSIX builds add a fifteenth, PKDV_WaitAlertable):
 * list adapters, open and close them, install BPF filters, send frames, pass
 * NDIS OID queries and sets to the adapter, and post asynchronous one-frame
 * reads whose completion routines run later in the posting thread while it
 * waits alertably. share/doc/pkdv/api.md (docs/api.md
 * in the source tree) follows a read from post to routine, with an example for
 * Windows and POSIX. MIT licence: share/doc/pkdv/LICENSE (LICENSE in the
 * source tree).
 *
 * Threads: every function may be called from any thread. Enumeration is
 * shared by the whole process: two threads enumerating at once take turns
 * and move the same cursor.
 * No function keeps a pointer it was given beyond its return, except
 * PKDV_PacketReadEx (until the read's routine has run, or the read has been
 * cancelled). A completion routine may post, cancel, send and close.
 *
 * Unloading (FreeLibrary, dlclose): reads still pending are freed without
 * their routines. A hand-back already queued to a thread that has not yet
 * waited alertably is lost on POSIX; on Windows it would run in code that is
 * no longer mapped, so let every thread wait alertably once (time-out 0)
 * after its last cancellation and before the library is unloaded. POSIX: if
 * the poller cannot finish its pass within 5 s (a capture call that blocks),
 * dlclose cancels it where it blocks and leaves the library's state
 * allocated; a poller spinning in the capture library without blocking would
 * stay in code that is then unmapped. Unloading frees everything loading and
 * opening allocated once the client has closed its adapters (POSIX: but for
 * a few dozen bytes for each other thread that used the library and still
 * runs, by which it would tell of its end), and threads that used the library
 * may end while it is unloaded.
 *
 * POSIX process events:
 *  - exit() unloads the library while the client's threads still run. A
 *    thread inside a routine or a library call goes on safely; afterwards no
 *    routine runs and posts return 0. Exit never waits for a routine.
 *  - The poller thread blocks every signal: signals reach the client's
 *    threads only (sigwait in a thread of the client's works).
 *  - fork(): the child has only the forking thread and none of the parent's
 *    reads (pending or waiting to be handed back: no routine of them runs in
 *    the child). Adapters stay open in the child and may be read there; the
 *    child starts its own poller with its first post, may exit at once, and
 *    restarts enumeration with a first call. The parent is not affected by
 *    the child's exit or by its closing an inherited adapter (the parent's
 *    position in a savefile stays where it was); reading an inherited
 *    adapter in the child takes frames from the source the two share. A fork
 *    from inside a completion routine is allowed: in the child the routine
 *    returns into the library, no further routine of that hand-back runs,
 *    and the alertable wait returns.
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

/* Result of PKDV_MakeNdisRequest: the driver succeeded without returning data. */
#define PKDV_NDIS_STATUS_NO_DATA ((uint32_t)1u)

/* ------------------------------------------------------------------------ */
/* Handles and records.                                                      */

/* The capture handle of an open adapter: 32 bits on 32-bit Windows, pointer
 * sized elsewhere. PKDV_INVALID_ADAPTER (all bits set) means "no adapter". A
 * handle is valid, in every thread, from PKDV_OpenAdapterA to PKDV_CloseAdapter.
 * Every function that takes a handle checks it against the adapters open at
 * that moment: a closed handle, or any value no open returned, is refused with
 * the function's failure value and PKDV_GetLastError() 6 (ERROR_INVALID_HANDLE;
 * PKDV_MakeNdisRequest: NDIS_STATUS_ADAPTER_NOT_READY) and is never used. A
 * later open may return a closed handle's value again, for the new adapter. */
typedef uintptr_t AdapterHandle;
#define PKDV_INVALID_ADAPTER ((AdapterHandle) ~(AdapterHandle)0)

#pragma pack(push, 4)
/* Receives one frame of an asynchronous read. The client allocates it
 * (PKDV_PACKET_BUFFER_HEADER_SIZE + capacity bytes, 4-byte aligned), sets
 * `capacity`, and keeps it valid until the read is handed back or cancelled.
 * Only the poller thread writes it, while the read is pending; once the
 * routine runs, the buffer is the client's again. The offsets are the same on
 * every build.
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
 * 64-bit fields are little-endian, low word first, on a 4-byte boundary.
 *
 * A 32-bit client under Wine on Linux, with Wine's own wpcap.dll (which passes
 * the work on to the host's libpcap): Wine 8.0's 32-bit wpcap.dll hands back
 * frame headers that have lost the capture time's microseconds and the wire
 * length. The library recognises such headers there (and only there: with
 * WinPcap, Npcap, or any 64-bit build, headers are used as they come; a
 * header that reads consistently is always taken as it is) and still delivers
 * each frame's bytes and captured_length exactly, and wire_length equals
 * captured_length, which is the frame's real length for every frame up to the
 * library's 65536-byte snapshot length. timestamp then keeps the capture's
 * second, and within it the time the library took the frame from the capture
 * library (the system clock read as the frame was polled, held within that
 * second: its last microsecond when the poll came after it). It lies between
 * the capture and the poll (unless the system clock was set back between
 * them): within milliseconds of the capture for a frame polled as it arrives,
 * later by as long as a frame waited for a read, but always less than a
 * second later. */
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

/* One adapter as enumeration reports it: 780 bytes, three 260-byte texts, the
 * same on every build. The client owns it; the library writes it only during
 * a PKDV_Get...AdapterRegistryInfo call that returns 0.
 *
 *  offset  field        written by
 *   0      description  library: the adapter's description, "" when it has none
 *  260     reserved     never touched by the library
 *  520     name         library: the name to pass to PKDV_OpenAdapterA
 *
 * Both texts are cut to 259 characters and terminated. */
#define PKDV_ADAPTER_TEXT_SIZE 260
typedef struct AdapterRegistryInfo {
  char description[PKDV_ADAPTER_TEXT_SIZE]; /* offset 0 */
  char reserved[PKDV_ADAPTER_TEXT_SIZE];    /* offset 260 */
  char name[PKDV_ADAPTER_TEXT_SIZE];        /* offset 520: pass this to PKDV_OpenAdapterA */
} AdapterRegistryInfo;

/* An NDIS OID query or set. The client owns the record and the information
 * buffer; the library uses them only during PKDV_MakeNdisRequest. Offsets on
 * 32-bit builds (64-bit builds in brackets, where the pointer widens):
 *
 *  offset   field                      written by
 *   0       client_reserved            never touched by the library
 *  20       request_type               client: 0 query, 1 set
 *  24       oid                        client: the NDIS object identifier
 *  28 [32]  information_buffer         client: pointer to the data; the bytes
 *                                      it points to are read for both kinds
 *                                      and written by the library for a
 *                                      query that returned data
 *  32 [40]  information_buffer_length  client: bytes at information_buffer
 *  36 [44]  bytes_written              library, for a query that returned data:
 *                                      bytes copied into information_buffer
 *  40 [48]  bytes_needed               library, same value as bytes_written
 *
 * A set never writes back into the record or the buffer. The record is 44
 * bytes on 32-bit builds, 56 on 64-bit builds. */
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
 * POSIX builds always report the NT family. A NULL routine is never called.
 * A client that targets the 95 family declares its routine as
 * PKDV_COMPLETION_ROUTINE_95 and casts it to PKDV_COMPLETION_ROUTINE.
 * Which thread runs the routine, and when, is said by the function it was
 * given to: PKDV_PacketSendEx (the sending thread, before the send returns) or
 * PKDV_PacketReadEx (the posting thread, during an alertable wait). No lock
 * of the library is held while a routine runs. */
typedef void(PKDV_CALLBACK* PKDV_COMPLETION_ROUTINE)(uint32_t status, uint32_t count,
                                                     uintptr_t context);
typedef void(PKDV_CALLBACK* PKDV_COMPLETION_ROUTINE_95)(uintptr_t context);

/* ------------------------------------------------------------------------ */
/* Functions. Each is declared once as a function type; the library defines  */
/* the function from the same declaration, so the two cannot drift.          */

/* Opens an adapter for reads, sends, filters and NDIS requests.
 *  name  writable, terminated text: a name as enumeration reported it
 *        (AdapterRegistryInfo.name). A leading "\Device\" (exact case) is
 *        removed in place, the rest of the text moving to the front of the
 *        caller's buffer. Used only during the call.
 * Returns the adapter's handle, valid until PKDV_CloseAdapter.
 * Fails with PKDV_INVALID_ADAPTER when `name` is NULL or the capture library
 * cannot open the adapter (unknown name, no capture library, or no right to
 * capture: on Linux live capture needs CAP_NET_RAW). PKDV_GetLastError() then
 * tells why, never 0:
 *     2  ERROR_FILE_NOT_FOUND       "file://PATH": no such file
 *     5  ERROR_ACCESS_DENIED        no right to capture on the adapter, or to
 *                                   read the file (or it is a folder)
 *    11  ERROR_BAD_FORMAT           the file is no savefile (pcap or pcapng)
 *    21  ERROR_NOT_READY            the adapter is not up
 *    31  ERROR_GEN_FAILURE          the capture library refused for another reason
 *    50  ERROR_NOT_SUPPORTED        a remote source ("rpcap://HOST/...") or
 *                                   another scheme; (Windows) a savefile with
 *                                   a capture library that opens none
 *    55  ERROR_DEV_NOT_EXIST        no adapter of that name
 *    87  ERROR_INVALID_PARAMETER    `name` is NULL
 *     8  ERROR_NOT_ENOUGH_MEMORY    no memory
 *   126  ERROR_MOD_NOT_FOUND        (Windows) no capture library installed
 *  1392  ERROR_FILE_CORRUPT         a savefile whose header is damaged or cut short
 * The capture library explains itself in words; on Windows the code is read
 * from them and from the name itself (is the file there, is the adapter
 * listed), so a reason that neither tells gives 31.
 * Frames are captured with a snapshot length of PKDV_SNAPSHOT_LENGTH (65536),
 * not in promiscuous mode. No routine is involved. */
#define PKDV_SNAPSHOT_LENGTH 65536u
typedef AdapterHandle PKDV_CALL PKDV_OPEN_ADAPTER_A_FUNC(char* name);
PKDV_OPEN_ADAPTER_A_FUNC PKDV_OpenAdapterA;

/* Wide names are not supported: `name` is not read and the result is always
 * PKDV_INVALID_ADAPTER, with last error 50 (ERROR_NOT_SUPPORTED). */
typedef AdapterHandle PKDV_CALL PKDV_OPEN_ADAPTER_W_FUNC(const wchar_t* name);
PKDV_OPEN_ADAPTER_W_FUNC PKDV_OpenAdapterW;

/* Closes an adapter.
 *  adapter  a handle from PKDV_OpenAdapterA; it is invalid once this returns,
 *           in every thread.
 * Reads still pending on it are taken out of their queues and handed back to
 * their own threads, at each thread's next alertable wait, with status
 * NDIS_STATUS_FAILURE; their PacketBuffers must stay valid until then. No
 * read is ever polled on a closed handle: a read posted in another thread
 * while the adapter closes is either handed back so or refused. May be called
 * from a routine. Do not close an adapter while another thread is still
 * inside a send, filter or NDIS call on it.
 * Returns 1; a NULL or PKDV_INVALID_ADAPTER handle is ignored (still 1).
 * Fails with 0 and last error 6 for a handle that is not open (closed
 * already, or never returned by PKDV_OpenAdapterA). */
typedef uint8_t PKDV_CALL PKDV_CLOSE_ADAPTER_FUNC(AdapterHandle adapter);
PKDV_CLOSE_ADAPTER_FUNC PKDV_CloseAdapter;

/* Installs a BPF program that decides which frames reads receive, and how
 * many bytes of each (on a savefile as on a live adapter).
 *  adapter       an open adapter
 *  instructions  the program: classic BPF instructions of 8 bytes each
 *                (16-bit code, 8-bit jt, 8-bit jf, 32-bit k); read only during
 *                the call, the capture library keeps its own copy
 *  length        size of the program in bytes: length / 8 instructions are
 *                installed, a remainder is ignored
 * Returns 1 when installed. Fails with 0, the capture library not called and
 * the previous program left in place, with last error
 *   87 for a program that could not be run safely: `instructions` NULL, no
 *      instruction or more than 4096, an instruction of no known kind, a
 *      jump backwards or past the end, a last instruction that is no
 *      return, a scratch memory cell beyond 15, a division or remainder by a
 *      constant 0, a constant shift by 32 or more;
 *    6 for a handle that is not open (NULL, PKDV_INVALID_ADAPTER, closed).
 * Fails with 0 too when the capture library refuses the program (last error
 * 31), or without memory for a copy of it (8). */
typedef uint8_t PKDV_CALL PKDV_SET_BPF_PROGRAM_FUNC(AdapterHandle adapter, const void* instructions,
                                                    uint32_t length);
PKDV_SET_BPF_PROGRAM_FUNC PKDV_SetBPFProgram;

/* Sends one frame synchronously.
 *  adapter  an open adapter
 *  frame    the whole frame from its link-layer header on, `length` bytes;
 *           read only during the call
 *  length   bytes to send
 *  sent     the client's counter: set to 0, then to `length` on success;
 *           must not be NULL: a NULL `sent` fails the send (nothing is sent
 *           or written, the routine gets a count of 0)
 *  context  passed to the routine unchanged
 *  routine  may be NULL; otherwise it runs once in the calling thread before
 *           this function returns, with the status this function returns and
 *           `*sent` as its count
 * Returns NDIS_STATUS_SUCCESS once the capture library has taken the frame.
 * Fails with NDIS_STATUS_FAILURE (`*sent` stays 0, the routine still runs)
 * when the capture library refuses the frame, or the frame or `sent` is
 * NULL, or the handle is not open, or length exceeds INT_MAX.
 * PKDV_GetLastError() (read right after the call; the routine runs before it
 * returns and may change it) then tells why: 6 a handle that is not open
 * (NULL, PKDV_INVALID_ADAPTER, closed, or never returned by an open), 87 a
 * NULL frame or `sent` or a length over INT_MAX, 50 the adapter is a
 * savefile, 24 (ERROR_BAD_LENGTH) the adapter cannot carry a frame of that
 * length, 21 the adapter is down, 5 no right to send, 8 no memory, 31 another
 * refusal. A successful send leaves 0. */
typedef uint32_t PKDV_CALL PKDV_PACKET_SEND_EX_FUNC(AdapterHandle adapter, const void* frame,
                                                    uint32_t length, uint32_t* sent,
                                                    uintptr_t context,
                                                    PKDV_COMPLETION_ROUTINE routine);
PKDV_PACKET_SEND_EX_FUNC PKDV_PacketSendEx;

/* Enumeration: the first call (re)reads the adapter list from the capture
 * library, each next call moves on by one adapter of that list.
 *  info  the client's record, written only when the result is 0 (description
 *        and name; `reserved` never) and not kept after the call
 * Both return 0 when `*info` was filled. Both fail with ERROR_NOT_SUPPORTED
 * (50), leaving `*info` unchanged, when no (further) adapter can be reported:
 * end of the list, an empty list, a list the capture library cannot read, no
 * first call yet, or a NULL `info`. After 50 at the end of the list, next
 * keeps answering 50 until a new first call.
 * Adapters whose description contains "MS Tunnel Interface Driver" are
 * skipped. An adapter listed without a description is reported with an empty
 * description. The list and the cursor are shared by the whole process: calls
 * from several threads are served one at a time, each moving the one cursor.
 * No routine is involved. */
typedef uint32_t PKDV_CALL PKDV_GET_FIRST_ADAPTER_REGISTRY_INFO_FUNC(AdapterRegistryInfo* info);
PKDV_GET_FIRST_ADAPTER_REGISTRY_INFO_FUNC PKDV_GetFirstAdapterRegistryInfo;
typedef uint32_t PKDV_CALL PKDV_GET_NEXT_ADAPTER_REGISTRY_INFO_FUNC(AdapterRegistryInfo* info);
PKDV_GET_NEXT_ADAPTER_REGISTRY_INFO_FUNC PKDV_GetNextAdapterRegistryInfo;

/* Queries (request_type 0) or sets (1) an NDIS OID on the adapter's driver,
 * and waits for the answer in the calling thread. No routine is involved.
 *  adapter     an open adapter
 *  request     the client's record, see NdisRequestRecord; it and its
 *              information buffer are used only during the call
 *  overlapped  Windows: the client's OVERLAPPED record, handed to the driver
 *              unchanged; valid until this returns. POSIX: not used (the
 *              request completes at once)
 *  wait        must be non-zero: only waiting requests are supported
 * Returns:
 *   NDIS_STATUS_ADAPTER_NOT_READY  a handle that is not open, or no driver reachable
 *   NDIS_STATUS_INVALID_DATA       `request` NULL, a type other than 0 or 1, or
 *                                  a NULL information buffer with a non-zero
 *                                  length
 *   NDIS_STATUS_FAILURE            `wait` false, or no memory for the driver buffer
 *   0                              the driver returned data (query: copied to the
 *                                  information buffer, at most its length, and
 *                                  bytes_written = bytes_needed = bytes copied)
 *   1 (PKDV_NDIS_STATUS_NO_DATA)   the driver succeeded without returning data
 *   ERROR_NOT_SUPPORTED (50)       the driver refused the request, at once or
 *                                  while completing it asynchronously (Windows);
 *                                  nothing is written back, and
 *                                  PKDV_GetLastError() tells why. */
typedef uint32_t PKDV_CALL PKDV_MAKE_NDIS_REQUEST_FUNC(AdapterHandle adapter,
                                                       NdisRequestRecord* request, void* overlapped,
                                                       uint8_t wait);
PKDV_MAKE_NDIS_REQUEST_FUNC PKDV_MakeNdisRequest;

/* Platform probes: which family of the platform the library runs on; the
 * family also decides the form of completion routines. No parameters; each
 * returns 0 or 1 (all 32 bits of the result register), asking the platform
 * anew at every call.
 *   PKDV_IsWindowsNT    NT line, any version except 5.0
 *   PKDV_IsWindows2000  NT line, version 5.0
 *   PKDV_IsWindows95    95 line
 * All three return 0 when the version cannot be read (the only failure).
 * POSIX builds report the NT line, version 10.0. */
typedef uint8_t PKDV_CALL PKDV_IS_WINDOWS_NT_FUNC(void);
PKDV_IS_WINDOWS_NT_FUNC PKDV_IsWindowsNT;
typedef uint8_t PKDV_CALL PKDV_IS_WINDOWS_2000_FUNC(void);
PKDV_IS_WINDOWS_2000_FUNC PKDV_IsWindows2000;
typedef uint8_t PKDV_CALL PKDV_IS_WINDOWS_95_FUNC(void);
PKDV_IS_WINDOWS_95_FUNC PKDV_IsWindows95;

/* The calling thread's last platform error (GetLastError on Windows; on POSIX
 * the code that the library's stand-in services last set in this thread, for
 * instance by a refused NDIS request: 1 unknown control code, 31 the kernel
 * refused, 50 unknown OID or a set of a query-only OID, 87 malformed driver
 * buffer, 122 data part too small). The codes are Windows' on every build;
 * PKDV_OpenAdapterA and PKDV_PacketSendEx list theirs. Read it right after
 * the failing call; later calls in the same thread may change it. Never
 * fails. */
typedef uint32_t PKDV_CALL PKDV_GET_LAST_ERROR_FUNC(void);
PKDV_GET_LAST_ERROR_FUNC PKDV_GetLastError;

/* Posts an asynchronous read of one frame on `adapter` into `buffer`, and
 * returns at once without waiting for a frame.
 *  adapter      an open adapter; it may be closed while the read is pending
 *               (the read is then handed back with NDIS_STATUS_FAILURE)
 *  buffer       the client's PacketBuffer with `capacity` set
 *  transferred  the client's 32-bit value whose contents at hand-back become
 *               the routine's count (the library never writes it); may be NULL
 *               (count 0)
 *  context      passed to the routine unchanged
 *  routine      the completion routine, may be NULL (then nothing is called)
 * Returns 1 when the read is queued, at once: the call never waits for the
 * capture library. Fails with 0 when it is not (NULL buffer, an adapter that
 * is not open (last error 6: NULL, PKDV_INVALID_ADAPTER, closed, or never
 * returned by an open), no memory, the library being unloaded, or a 21st
 * thread: see below); a read that was not queued never reaches its routine.
 * When the library's poller thread could not be started (at load,
 * or in a forked child at its first post) each post tries again, and fails
 * with 0 and last error 8 (ERROR_NOT_ENOUGH_MEMORY) while it cannot.
 *
 * The library's poller thread fills posted reads as frames come, those of each
 * thread in the order they were posted, and writes the result into `buffer`
 * (status NDIS_STATUS_SUCCESS, NDIS_STATUS_INVALID_LENGTH or
 * NDIS_STATUS_FAILURE). The routine is then called in the posting thread,
 * during one of its alertable waits (SleepEx/WaitFor...Ex with alertable TRUE
 * on Windows, PKDV_WaitAlertable elsewhere), with status = buffer->status,
 * count = the value behind `transferred` at that moment, and `context`. A
 * thread that never waits alertably never gets its reads back.
 * A hand-back returns the reads that finished before it started; reads that
 * finish while its routines run go back in the next one, queued about 0.2 ms
 * after it ends (Windows: 1 ms or more, the timer's granularity; at the fixed
 * pace: by the poller's next pass), so an alertable wait returns after each
 * hand-back.
 * Pacing: between passes the poller sleeps until there is work, at most
 * 100 ms: until the adapter of a thread's first pending read has frames, a
 * read is posted, or a hand-back ends with reads waiting behind it. How it
 * learns that frames came depends on the capture library:
 *  - Linux (libpcap): live adapters wake it as their ring hands over a block
 *    (at most 1 ms after the first frame in it); savefiles are read without
 *    pause; a savefile that is no regular file (a FIFO, a pipe) is read ahead
 *    on a thread of its own (up to 1024 frames), so a writer that pauses holds
 *    up only the reads on it.
 *  - Windows with WinPcap or Npcap: the adapter's event wakes it (a frame is
 *    enough); savefiles are read without pause.
 *  - Other capture libraries (Wine's wpcap.dll): after a pass that moved
 *    frames the poller passes again at once; after empty passes it sleeps
 *    1 ms, then twice as long each time up to 100 ms.
 * With PKDV_PACING=fixed in the environment when the library is loaded, the
 * poller sleeps 100 ms after every pass instead (the pace of earlier
 * releases): up to one pass's worth of reads per 100 ms.
 * `buffer` and `transferred` must stay valid until the routine has been
 * called, or until PKDV_CancelPacketRead has taken the read back.
 * At most 20 threads are served. A thread that has posted keeps its place
 * while it has reads outstanding or not yet handed back; once it has none,
 * its place is freed when it ends or when any thread's PKDV_CancelPacketRead
 * finds it so. While 20 live threads hold a place, a post from any other
 * thread fails with 0 and queues nothing. */
typedef uint32_t PKDV_CALL PKDV_PACKET_READ_EX_FUNC(AdapterHandle adapter, PacketBuffer* buffer,
                                                    uint32_t* transferred, uintptr_t context,
                                                    PKDV_COMPLETION_ROUTINE routine);
PKDV_PACKET_READ_EX_FUNC PKDV_PacketReadEx;

/* Takes back a read that is no longer wanted.
 *  adapter  not used
 *  buffer   the PacketBuffer the read was posted with
 * Removes, in every thread that posted one, the first read still pending with
 * this `buffer`; its routine will never be called and the library no longer
 * touches its buffer. A read already filled and waiting to be handed back is
 * not taken back: its routine still runs at the posting thread's next
 * alertable wait, so keep the buffer until then. May be called from any
 * thread, also from a routine. Returns 1, and never fails (a NULL buffer
 * removes nothing). */
typedef uint32_t PKDV_CALL PKDV_CANCEL_PACKET_READ_FUNC(AdapterHandle adapter,
                                                        PacketBuffer* buffer);
PKDV_CANCEL_PACKET_READ_FUNC PKDV_CancelPacketRead;

#ifndef _WIN32
/* POSIX builds only (Windows clients use SleepEx(ms, TRUE) or another
 * alertable wait): the stand-in for an alertable wait, and the only place
 * where the routines of a thread's reads run.
 *  milliseconds  longest wait; PKDV_INFINITE: no limit, 0: only run what is
 *                already queued
 * The calling thread waits, running in itself every hand-back queued to it
 * (the routines of reads it posted), and returns PKDV_WAIT_IO_COMPLETION
 * (0xC0) as soon as it has run at least one, or 0 when the time passed
 * without any. A hand-back runs the routines of the reads that had finished
 * when it started, so the wait returns after it even while the thread's reads
 * keep finishing (the next hand-back runs in the next wait). Never fails. Like SleepEx, it may be called from any thread,
 * but only runs that thread's own routines. */
#define PKDV_INFINITE 0xFFFFFFFFu
#define PKDV_WAIT_IO_COMPLETION 0xC0u
typedef uint32_t PKDV_CALL PKDV_WAIT_ALERTABLE_FUNC(uint32_t milliseconds);
PKDV_WAIT_ALERTABLE_FUNC PKDV_WaitAlertable;
#endif

#ifdef __cplusplus
}
#endif

#endif /* PKDV_H */
