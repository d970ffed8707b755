// The operating-system layer: every call Tarnivo makes into the system goes through here.
//
// Qt-free C++17 with UTF-8 text at the boundary, so that it cross-compiles for Windows and its
// tests run there without Qt. It only reads the system and returns plain values; what a value
// means (clamps, rates, instance names, counter paths) is decided above it, once, for both
// systems. Windows makes the Win32/PDH calls; Linux reads /proc, /sys and getifaddrs below a
// root directory, so that its parsers can be run on fixture trees.
#pragma once

#include "platform/DeviceRules.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Linux: the directory below which /proc, /sys, /run and /etc are read ("/" for the live
// system). Windows: unused. Set it once, before the first call of the functions below.
void setRootDirectory(const std::string &root);
std::string rootDirectory();

// Enables the debug privilege of the own process; nothing on Linux. Failures are silent.
void enableDebugPrivilege();

// Keeps the system from asking the user about a device that is not ready (an empty card
// reader, a drive without a disk): the open fails at once instead of raising a modal dialog
// on whichever thread made it. Called once at start-up; nothing on Linux.
void suppressErrorDialogs();

// Writes UTF-8 text to the standard output the program was given; a Windows program of the
// GUI subsystem writes to the console of the program that started it, if that has one.
// False when there is nowhere to write or the write fails.
bool writeStandardOutput(const std::string &text);

// The local computer name (GetComputerNameW; the host name on Linux). Empty on failure.
std::string computerName();

// Memory status in bytes (GlobalMemoryStatusEx). Linux: physical = MemTotal/MemAvailable,
// page file = RAM plus swap, as Windows reports it. All zero on failure.
struct MemoryStatus {
    uint64_t totalPhys = 0;
    uint64_t availPhys = 0;
    uint64_t totalPageFile = 0;
    uint64_t availPageFile = 0;
};
MemoryStatus memoryStatus();

// The English counter-name list in the registry's format (Perflib\009 "Counter"):
// "index" NUL "name" NUL ... NUL NUL, converted to UTF-8 with its NULs kept. Empty on failure.
std::string counterNameList();

// The local name of a counter or object index (PdhLookupPerfNameByIndexW). Empty on failure.
std::string lookupPerfNameByIndex(const std::string &computer, uint32_t index);

// One performance-counter query. All functions are safe to call from several threads on one
// query. A formatted value is the rate or percentage between the last two collections, so a
// new counter reads 0 until the query has collected it twice. Each backend defines the two
// handle types; a counter handle is valid from its add until its removal, and is removed once.
class Query;
class QueryCounter;
using QueryHandle = Query *;
using CounterHandle = QueryCounter *;
constexpr uint32_t FMT_LARGE = 0x00000400;
constexpr uint32_t FMT_1000 = 0x00002000;
constexpr uint32_t FMT_NOCAP100 = 0x00008000;

// Whether the sampling pass takes its rates from a counter query (the system has a counter
// service) or from the differences of the running totals (Totals.h) between two passes.
bool countersGiveRates();
QueryHandle openQuery();                                              // null on failure
CounterHandle addCounter(QueryHandle query, const std::string &path); // null on failure
// The same for a path in English names whatever the system's language (PdhAddEnglishCounterW),
// for a system whose English name list lacks a name. Linux: addCounter(), its names are English.
CounterHandle addEnglishCounter(QueryHandle query, const std::string &path);
void collectQuery(QueryHandle query);
int64_t formattedCounterValue(CounterHandle counter, uint32_t flags); // 0 on failure
void removeCounter(CounterHandle counter);
// How many counters the query holds now: added and not yet removed.
size_t counterCount(QueryHandle query);

// One network adapter as the adapter list (GetAdaptersInfo) and its interface row
// (GetIfEntry) describe it. Texts are untrimmed; speed is bits per second, 0 when unknown.
struct Adapter {
    std::string description;
    std::string address;
    std::string mask;
    std::string gateway;
    // The adapter's instance of the counter object "Network Interface", exactly as the counter
    // service names it (bytes as they are, not to be cleaned or changed): on Linux the interface
    // name itself, on Windows the service's own instance name. Two adapters never share one.
    std::string counterInstance;
    uint32_t index = 0; // the interface index: the adapter's identity while it exists
    uint64_t speed = 0;
    uint64_t inOctets = 0; // Windows counts octets in 32 bits, Linux in 64
    uint64_t outOctets = 0;
    // Up and with a carrier. An interface that is up without one (a bridge with no member, as
    // Docker leaves docker0) carries no traffic to other machines.
    bool running = false;
};
// The adapters in the system's order; empty when the list cannot be read.
std::vector<Adapter> adapters();

// Logical processors of every group (GetActiveProcessorCount), numbered across the groups in
// order, and their descriptions (CentralProcessor\N registry key: "ProcessorNameString" and
// "Identifier"). Texts are untrimmed; empty when unreadable.
uint32_t processorCount();
// Active processors per processor group (one group on Linux).
std::vector<uint32_t> processorGroups();
// The English name of the counter object that holds every processor, and processor n's
// instance there: "Processor Information" and "group,index" on Windows, as the counter service
// lists them; "Processor" and the number on Linux.
std::string processorCounterObject();
std::string processorCounterInstance(uint32_t n);
struct ProcessorDescription {
    std::string name;
    std::string identifier;
};
ProcessorDescription processorDescription(uint32_t index);

// The numbers of the physical disks attached now, ascending (n as in \\.\PhysicalDriveN). A disk
// keeps its number for as long as it stays attached, whatever other disks come or go, so there
// may be gaps; the same number names it in physicalDisk, volumesOfDisk, counter paths and the
// running totals. (Windows keeps the numbers itself; on Linux a disk that arrives gets a number
// no disk has had since the program started, so that a number never passes to another disk.)
std::vector<uint32_t> physicalDiskNumbers();

// Physical disk n: false when it does not exist or cannot be opened even without access rights.
// The texts come from the device description, untrimmed; empty when absent.
struct DiskIdentity {
    std::string model;
    std::string serial;
    std::string firmware;
};
bool physicalDisk(uint32_t n, DiskIdentity &identity);
// The system's own name of disk n, as its tools show it: "PhysicalDrive0" on Windows, the
// kernel's "sda" or "nvme0n1" on Linux; empty when no such disk is attached.
std::string diskSystemName(uint32_t n);

// Root paths of the volumes on disk n, ascending: "C:\" and so on on Windows (letters C to Z),
// mount points on Linux.
std::vector<std::string> volumesOfDisk(uint32_t n);
// The counter instance of disk n with the volumes its record lists: on Windows the number
// followed by " L:" for each volume's letter ("0 C: D:"), or, when the counter service lists
// no such instance, the listed one that begins with the disk's number; on Linux the number.
std::string diskCounterInstance(uint32_t n, const std::vector<std::string> &volumes);
// The counter instance of the adapter with this interface index, whose scan gave it `built`
// (Adapter::counterInstance): that one, or, on Windows, when the counter service lists no such
// instance, the one named after the adapter's Unicode description.
std::string adapterCounterInstance(uint32_t index, const std::string &built);
// The instances the counter service lists now for an English-named object, as it names them;
// empty when it lists none or cannot be asked (always on Linux).
std::vector<std::string> counterInstances(const std::string &englishObject);

// The drive letters in use (A to Z) with their drive types; none on Linux.
struct DriveLetter {
    char letter = 0;
    DriveType type = DriveType::Unknown;
};
std::vector<DriveLetter> driveLetters();

// The peer's IPv4 address of a connected socket descriptor, dotted; empty on failure.
std::string peerAddress(intptr_t descriptor);
// The local address on which a connected socket descriptor was reached, the same way.
std::string localAddress(intptr_t descriptor);
// A listening TCP socket on an address (IPv4 dotted or IPv6; "0.0.0.0" for every IPv4 address,
// "::" for every address of both families in one socket) and port (0: one the system chooses)
// that no other socket can share. On Windows it is bound with
// SO_EXCLUSIVEADDRUSE, without which a program could bind the same port on one address and
// take the connections to it; a port that cannot be shared so is not bound at all. -1 on
// failure, with why in `refusal` and the system's words in `why` when they are given.
enum class ListenRefusal { None, InUse, Denied, Other };
intptr_t listenExclusively(const std::string &address, uint16_t port,
                           ListenRefusal *refusal = nullptr, std::string *why = nullptr);
// Takes one connection waiting on a listening socket, without waiting: its descriptor, already
// in the non-blocking mode that the connection I/O below needs and not inherited by programs
// the process starts; -1 when none waits now, -2 when taking one failed (out of descriptors or
// memory, or the listener broke): the caller tries again a little later.
// The peer's address, as peerAddress() gives it, goes to peer when given.
intptr_t acceptConnection(intptr_t listener, std::string *peer = nullptr);
// The local port a socket is bound to; 0 on failure.
uint16_t localPort(intptr_t descriptor);
// Closes a socket descriptor that no Qt object has adopted.
void closeSocket(intptr_t descriptor);
// Ends the sending side of a connected socket (the peer reads the end of the data) while the
// receiving side stays open.
void shutdownSending(intptr_t descriptor);
// Ends both sides of a connected socket, from any thread: every wait on it returns, and the
// next read or write fails. The descriptor stays open until closed.
void shutdownBoth(intptr_t descriptor);

// Password hashes as "htpasswd -nB" writes them (bcrypt, "$2y$05$..."), checked by the
// system's own crypt (libxcrypt) on Linux and by OpenBSD's bcrypt on Windows, which has none.
// True when password hashes to hash; any failure (a hash it cannot read) is false. Takes the
// hash's full cost every time; the comparison does not stop at the first difference.
bool passwordMatches(const std::string &password, const std::string &hash);

// Ending a blocking socket wait from another thread. A waker is a descriptor of its own (an
// event counter on Linux, a loopback datagram socket on Windows) that waitReadable() watches
// beside the socket, so that a thread can sleep in the kernel with no time-out and still be
// told to look at something else, or to stop. Invalid (-1) when it cannot be made.
using WakerHandle = intptr_t;
WakerHandle openWaker();
// Safe from any thread while the waker is open; wake-ups before the next wait are kept.
void wake(WakerHandle waker);
void closeWaker(WakerHandle waker);
enum class WaitResult { Readable, Woken, TimedOut, Failed };
// Blocks until the socket has data (Readable), the waker was woken (Woken, which also resets
// it) or timeoutMs has passed (-1: no time-out). A wake-up wins over data that arrived at once.
WaitResult waitReadable(intptr_t socket, WakerHandle waker, int timeoutMs);

// A plain system thread running function(argument), with a stack of stackSize bytes (0: the
// system's default); null when none could be made. Joined exactly once, which frees it.
struct SystemThread;
SystemThread *startThread(void (*function)(void *), void *argument, std::size_t stackSize);
void joinThread(SystemThread *thread);
// Linux 6.12 on: asks that this thread, and the threads it starts from here on, be given turns
// on a processor of at most microseconds each, in return for getting on sooner when they become
// ready, instead of waiting for a busy program's turn to end (about 3 ms). Their share of the
// processor stays the same. Nothing on older kernels and on Windows.
void preferShortTurns(int microseconds);
// Linux: bounds the C library's memory arenas, which it otherwise adds, up to eight per
// processor, as threads meet in malloc, each keeping what its threads freed. Nothing on Windows,
// whose heap has no arenas. Call once, before threads start.
void limitMemoryArenas(int arenas);

// Files for reading, as C runtime descriptors (what QFile::open(int) adopts). Paths are UTF-8;
// on Windows "/" and "\\" both separate. Final paths use "/" and name the file after every
// symbolic link and junction ("C:/dir/file", "//server/share/file").
// The regular file at path, following links; -1 when it cannot be opened or is anything but a
// regular file (a directory, FIFO or device). Never blocks on a FIFO. Its size as the open
// found it goes to size when given.
int openRegularFile(const std::string &path, int64_t *size = nullptr);
// Up to size bytes from where the last read ended; 0 at the end of the file, -1 on failure.
int64_t readFile(int descriptor, char *buffer, int64_t size);
// Where an open descriptor's file really lies (GetFinalPathNameByHandleW, /proc/self/fd).
// Empty on failure.
std::string finalPathOfFile(int descriptor);
// Where the directory at path really lies; empty when it is none or cannot be opened.
std::string finalPathOfDirectory(const std::string &path);
void closeFile(int descriptor);

// A connection's I/O without a socket object: the descriptor is put into non-blocking mode once,
// and every wait is a poll with a time-out, so that no call can hang a thread.
bool setNonBlocking(intptr_t descriptor);
// Waits up to msecs (negative: without limit) until the socket can be read, or written: 1 when
// it can (a closed or failed connection counts as readable and writable, the next call says
// which), 0 at the time-out, -1 when the wait itself fails.
int waitReadable(intptr_t descriptor, int msecs);
int waitWritable(intptr_t descriptor, int msecs);
// Reads what is there, without waiting: the number of bytes, 0 when the peer has ended its
// sending, -1 when nothing has arrived yet, -2 when the connection failed.
int64_t receiveSome(intptr_t descriptor, char *buffer, int64_t size);
// Writes what fits, without waiting: the number of bytes, -1 when nothing fits now, -2 when the
// connection failed (no signal is raised for a peer that has gone).
int64_t sendSome(intptr_t descriptor, const char *data, int64_t size);
// Reads what is there as receiveSome does, but leaves it to be read again.
int64_t peekSome(intptr_t descriptor, char *buffer, int64_t size);
// A second descriptor for the same connection, for an object that closes what it adopts: the
// connection stays until both are closed, and a shutdown through either ends the waits on
// both. -1 on failure.
intptr_t duplicateSocket(intptr_t descriptor);

} // namespace platform
