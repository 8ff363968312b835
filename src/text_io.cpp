// text_io: the byte rules of console and code-file traffic, and the
// replacement of the code file by its converted content.
//
// The first half holds the platform's calls (POSIX or Win32) behind a few
// plain functions; the second half builds the byte rules on them and knows
// nothing of the platform.
#include "text_io.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <charconv>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#ifdef __linux__
#include <sys/xattr.h>
#endif
#endif

namespace {

constexpr std::size_t file_block_size = std::size_t{256} * 1024;
constexpr std::size_t console_block_size = std::size_t{4} * 1024;
constexpr char end_of_input_mark = 0x1A;

// Each platform provides, with the same names and meanings:
//   read_block       bytes read, 0 at the end, -1 on an error
//   write_block      writes every byte or fails
//   close_handle, seek_to_start, cut_file_here (truncate at the position),
//   sync_file (to the disk), remove_file
//   open_regular_file        a handle only for an existing regular file
//   standard_*_handle
//   prepare_replacement      opens the code file for writing (this fails when
//                            the user may not write it) and creates the
//                            temporary file, beside it where possible
//   put_in_place             replaces the code file by the temporary file,
//                            keeping the code file's attributes; false
//                            leaves both open for a copy in place

#ifdef _WIN32
// ---------------------------------------------------------------------------
// Win32 calls
// ---------------------------------------------------------------------------

HANDLE to_native(platform_handle handle) { return reinterpret_cast<HANDLE>(handle); }

platform_handle from_native(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE || handle == nullptr
               ? no_file
               : reinterpret_cast<platform_handle>(handle);
}

long read_block(platform_handle handle, char* data, std::size_t size) {
    DWORD got = 0;
    DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (ReadFile(to_native(handle), data, wanted, &got, nullptr)) return static_cast<long>(got);
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;  // a closed pipe is its end
}

bool write_block(platform_handle handle, const char* data, std::size_t size) {
    while (size > 0) {
        DWORD wrote = 0;
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!WriteFile(to_native(handle), data, chunk, &wrote, nullptr) || wrote == 0) return false;
        data += wrote;
        size -= wrote;
    }
    return true;
}

bool close_handle(platform_handle handle) { return CloseHandle(to_native(handle)) != 0; }

bool seek_to_start(platform_handle handle) {
    return SetFilePointer(to_native(handle), 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

bool cut_file_here(platform_handle handle) { return SetEndOfFile(to_native(handle)) != 0; }

bool sync_file(platform_handle handle) { return FlushFileBuffers(to_native(handle)) != 0; }

void remove_file(const std::string& path) { DeleteFileA(path.c_str()); }

// FILE_SHARE_DELETE besides reading and writing, so that the converted file
// can take the code file's place while the run still has it open.
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE open_existing(const std::string& name, DWORD access) {
    return CreateFileA(name.c_str(), access, share_all, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Disk files only: not a console, a pipe or a device such as NUL or CON.
platform_handle open_regular_file(const std::string& name) {
    HANDLE handle = open_existing(name, GENERIC_READ);
    if (handle == INVALID_HANDLE_VALUE) return no_file;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(handle);
        return no_file;
    }
    return from_native(handle);
}

platform_handle standard_input_handle() { return from_native(GetStdHandle(STD_INPUT_HANDLE)); }
platform_handle standard_output_handle() { return from_native(GetStdHandle(STD_OUTPUT_HANDLE)); }
platform_handle standard_error_handle() { return from_native(GetStdHandle(STD_ERROR_HANDLE)); }

std::string directory_of(const std::string& path) {
    std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The path the handle leads to, links resolved; the name where that fails.
std::string final_path_of(platform_handle handle, const std::string& name) {
    char path[MAX_PATH * 4];
    DWORD size =
        GetFinalPathNameByHandleA(to_native(handle), path, sizeof path, FILE_NAME_NORMALIZED);
    return size > 0 && size < sizeof path ? std::string(path, size) : name;
}

// A new file, created exclusively and shared with nobody while written.
platform_handle create_temp_file(const std::string& prefix, std::string& path) {
    static const char digits[] = "0123456789abcdef";
    LARGE_INTEGER ticks{};
    for (int attempt = 0; attempt < 100; ++attempt) {
        QueryPerformanceCounter(&ticks);
        std::uint64_t mix = static_cast<std::uint64_t>(ticks.QuadPart) * 0x9E3779B97F4A7C15ULL ^
                            GetCurrentProcessId() ^ static_cast<std::uint64_t>(attempt) << 48;
        std::string candidate = prefix;
        for (int k = 0; k < 12; ++k, mix >>= 4) candidate += digits[mix & 15];
        HANDLE handle = CreateFileA(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            path = candidate;
            return from_native(handle);
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return no_file;
    }
    return no_file;
}

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool prepare_replacement(output_stream& out, const std::string& name, const input_stream& in) {
    out.target_path = final_path_of(in.handle, name);
    // Fails for a read-only file: it is not to be replaced.
    out.target_handle = from_native(open_existing(out.target_path, GENERIC_WRITE));
    BY_HANDLE_FILE_INFORMATION target{};
    BY_HANDLE_FILE_INFORMATION read{};
    if (out.target_handle == no_file ||
        !GetFileInformationByHandle(to_native(out.target_handle), &target) ||
        !GetFileInformationByHandle(to_native(in.handle), &read) || !same_file(target, read))
        return false;
    std::string base = out.target_path.substr(out.target_path.find_last_of("\\/") + 1);
    out.handle = create_temp_file(directory_of(out.target_path) + "\\." + base.substr(0, 100) + ".",
                                  out.temp_path);
    bool beside_target = out.handle != no_file;
    if (!beside_target) {
        char dir[MAX_PATH + 1];
        DWORD size = GetTempPathA(sizeof dir, dir);
        if (size > 0 && size < sizeof dir)
            out.handle = create_temp_file(std::string(dir, size) + "code2option.", out.temp_path);
    }
    out.owns_handle = out.handle != no_file;
    // A replacement would cut the file from its other hard links.
    out.may_rename = beside_target && target.nNumberOfLinks == 1;
    return out.handle != no_file;
}

// ReplaceFileA keeps the code file's attributes and access rights. It needs
// both files closed; where it fails they are opened again for the copy.
bool put_in_place(output_stream& out) {
    if (!sync_file(out.handle)) return false;
    close_handle(out.handle);
    close_handle(out.target_handle);
    if (ReplaceFileA(out.target_path.c_str(), out.temp_path.c_str(), nullptr,
                     REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        out.handle = out.target_handle = no_file;
        out.temp_path.clear();
        return true;
    }
    out.handle = from_native(open_existing(out.temp_path, GENERIC_READ));
    out.target_handle = from_native(open_existing(out.target_path, GENERIC_WRITE));
    return false;
}

#else
// ---------------------------------------------------------------------------
// POSIX calls
// ---------------------------------------------------------------------------

int to_fd(platform_handle handle) { return static_cast<int>(handle); }

// EINTR is retried.
long read_block(platform_handle handle, char* data, std::size_t size) {
    for (;;) {
        ssize_t n = ::read(to_fd(handle), data, size);
        if (n >= 0 || errno != EINTR) return static_cast<long>(n);
    }
}

// Short writes and EINTR are retried.
bool write_block(platform_handle handle, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(to_fd(handle), data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool close_handle(platform_handle handle) { return ::close(to_fd(handle)) == 0; }

bool seek_to_start(platform_handle handle) { return ::lseek(to_fd(handle), 0, SEEK_SET) == 0; }

bool cut_file_here(platform_handle handle) {
    off_t here = ::lseek(to_fd(handle), 0, SEEK_CUR);
    return here >= 0 && ::ftruncate(to_fd(handle), here) == 0;
}

bool sync_file(platform_handle handle) { return ::fsync(to_fd(handle)) == 0; }

void remove_file(const std::string& path) { ::unlink(path.c_str()); }

// Regular files only: a directory opens for reading on Linux, and a FIFO
// would block the open, hence O_NONBLOCK until the type is known.
platform_handle open_regular_file(const std::string& name) {
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return no_file;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return no_file;
    }
    return fd;
}

platform_handle standard_input_handle() { return STDIN_FILENO; }
platform_handle standard_output_handle() { return STDOUT_FILENO; }
platform_handle standard_error_handle() { return STDERR_FILENO; }

std::string directory_of(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates a new file from a mkstemp template: exclusively, mode 0600.
// `path` gets its name, or stays empty.
platform_handle create_temp_file(const std::string& path_template, std::string& path) {
    path = path_template;
    int fd = ::mkstemp(path.data());
    if (fd < 0) {
        path.clear();
        return no_file;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

// The temporary file goes beside the code file so that a rename can replace
// it; where that directory takes no new file, it goes to the temporary
// directory and is later copied in place.
platform_handle create_replacement_file(const std::string& target, std::string& path,
                                        bool& beside_target) {
    std::string base = target.substr(target.find_last_of('/') + 1);
    std::string beside = directory_of(target) + "/." + base.substr(0, 100) + ".XXXXXX";
    platform_handle fd = create_temp_file(beside, path);
    beside_target = fd != no_file;
    if (fd != no_file) return fd;
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    return create_temp_file(dir + "/code2option.XXXXXX", path);
}

// The code file, symbolic links resolved, opened for writing: this fails when
// the user may not write it. It must still be the file that was read.
platform_handle open_target_for_writing(const std::string& name, platform_handle read_handle,
                                        std::string& target, struct stat& st) {
    char* resolved = ::realpath(name.c_str(), nullptr);
    if (resolved == nullptr) return no_file;
    target = resolved;
    std::free(resolved);
    int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return no_file;
    struct stat read_st {};
    if (::fstat(fd, &st) != 0 || ::fstat(to_fd(read_handle), &read_st) != 0 ||
        st.st_dev != read_st.st_dev || st.st_ino != read_st.st_ino) {
        ::close(fd);
        return no_file;
    }
    return fd;
}

// Extended attributes, access control lists among them, would not follow a
// rename. The SELinux label is left out: the new file gets its directory's.
bool has_extended_attributes(platform_handle handle) {
#ifdef __linux__
    ssize_t size = ::flistxattr(to_fd(handle), nullptr, 0);
    if (size <= 0) return false;
    std::string names(static_cast<std::size_t>(size), '\0');
    size = ::flistxattr(to_fd(handle), names.data(), names.size());
    if (size < 0) return true;
    for (std::size_t at = 0; at < static_cast<std::size_t>(size);) {
        std::string_view attribute(names.data() + at);
        if (attribute != "security.selinux") return true;
        at += attribute.size() + 1;
    }
#else
    static_cast<void>(handle);
#endif
    return false;
}

bool prepare_replacement(output_stream& out, const std::string& name, const input_stream& in) {
    struct stat st {};
    out.target_handle = open_target_for_writing(name, in.handle, out.target_path, st);
    if (out.target_handle == no_file) return false;
    bool beside_target = false;
    out.handle = create_replacement_file(out.target_path, out.temp_path, beside_target);
    out.owns_handle = out.handle != no_file;
    // A rename would cut the file from its other hard links.
    out.may_rename =
        beside_target && st.st_nlink == 1 && !has_extended_attributes(out.target_handle);
    return out.handle != no_file;
}

// Gives the new file the code file's owner, group and permission bits; the
// owner first, since a change of owner clears the set-id bits.
bool copy_attributes(platform_handle handle, platform_handle target_handle) {
    struct stat st {};
    struct stat own {};
    if (::fstat(to_fd(target_handle), &st) != 0 || ::fstat(to_fd(handle), &own) != 0) return false;
    if ((own.st_uid != st.st_uid || own.st_gid != st.st_gid) &&
        ::fchown(to_fd(handle), st.st_uid, st.st_gid) != 0)
        return false;
    return ::fchmod(to_fd(handle), st.st_mode & 07777) == 0;
}

void sync_directory(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool put_in_place(output_stream& out) {
    if (!copy_attributes(out.handle, out.target_handle) || !sync_file(out.handle) ||
        ::rename(out.temp_path.c_str(), out.target_path.c_str()) != 0)
        return false;
    out.temp_path.clear();
    sync_directory(directory_of(out.target_path));
    return true;
}

#endif

// ---------------------------------------------------------------------------
// The replacement of the code file, on top of the calls above
// ---------------------------------------------------------------------------

// Overwrites the code file from its first byte with the complete temporary
// file, then cuts it to the new length; no write goes unchecked.
bool copy_into_target(output_stream& out) {
    if (out.handle == no_file || out.target_handle == no_file || !seek_to_start(out.handle) ||
        !seek_to_start(out.target_handle))
        return false;
    for (;;) {
        long n = read_block(out.handle, out.buffer.data(), out.buffer.size());
        if (n < 0) return false;
        if (n == 0) break;
        if (!write_block(out.target_handle, out.buffer.data(), static_cast<std::size_t>(n)))
            return false;
    }
    return cut_file_here(out.target_handle) && sync_file(out.target_handle);
}

bool finish_replacement(output_stream& out) {
    return (out.may_rename && put_in_place(out)) || copy_into_target(out);
}

// ---------------------------------------------------------------------------
// The byte rules, on top of the calls above
// ---------------------------------------------------------------------------

#if defined(__SSE2__) || defined(_M_X64)
// One bit for each of the 16 bytes at `from` that is whitespace.
unsigned whitespace_mask16(const char* from) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    __m128i space = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
    // HT to CR are 9 to 13: after subtracting 9, at most 4.
    __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8('\t'));
    __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(4)), offset);
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(space, control)));
}
#endif

// A block just read ends before its first 0x1A byte, and so does the input.
std::size_t cut_at_end_mark(const char* data, std::size_t size, bool& hit_end_mark) {
    const void* mark = std::memchr(data, end_of_input_mark, size);
    if (mark == nullptr) return size;
    hit_end_mark = true;
    return static_cast<std::size_t>(static_cast<const char*>(mark) - data);
}

// Refills an empty buffer; false at the end of input. Carriage returns are
// still in the buffer: the readers drop them.
bool fill_input(input_stream& in) {
    in.begin = in.end = 0;
    while (!in.at_end) {
        long n = read_block(in.handle, in.buffer.data(), in.buffer.size());
        if (n <= 0) {
            in.at_end = true;  // a read error counts as the end, and is kept
            in.read_error = in.read_error || n < 0;
            break;
        }
        in.end = cut_at_end_mark(in.buffer.data(), static_cast<std::size_t>(n), in.at_end);
        if (in.end > 0) return true;
    }
    return false;
}

bool has_input(input_stream& in) { return in.begin < in.end || fill_input(in); }

// Every read starts here: a stream at its end or failed only fails again,
// and one whose input runs out now is at its end. False: nothing to read.
bool start_read(input_stream& in) {
    if (in.eof || in.fail) {
        in.fail = true;
        return false;
    }
    if (!has_input(in)) {
        in.eof = in.fail = true;
        return false;
    }
    return true;
}

// Consumes the rest of the current line and its line feed, refilling the
// buffer as needed, and hands each piece of it to `take`. True when a line
// feed ended the line, false when the end of the input did.
template <typename piece_taker>
bool consume_line(input_stream& in, piece_taker take) {
    const void* lf = nullptr;
    do {
        const char* start = in.buffer.data() + in.begin;
        std::size_t size = in.end - in.begin;
        lf = std::memchr(start, '\n', size);
        if (lf != nullptr) size = static_cast<std::size_t>(static_cast<const char*>(lf) - start);
        take(start, size);
        in.begin += size + (lf != nullptr);
    } while (lf == nullptr && has_input(in));
    return lf != nullptr;
}

// The states after a line read: a line ended by the input sets the
// end-of-file state, and the failure state too when it held nothing but
// carriage returns (no line). True when a line was delivered.
bool end_line_read(input_stream& in, bool ended_by_line_feed, bool holds_text) {
    if (!ended_by_line_feed) {
        in.eof = true;
        in.fail = !holds_text;
    }
    return !in.fail;
}

void put_bytes(output_stream& out, const char* data, std::size_t size) {
    if (out.failed) return;
    if (size > out.buffer.size() - out.used) {
        if (!flush_output(out)) return;
        if (size >= out.buffer.size()) {
            out.failed = !write_block(out.handle, data, size);
            return;
        }
    }
    std::memcpy(out.buffer.data() + out.used, data, size);
    out.used += size;
}

void reset_input(input_stream& in) {
    in.at_end = in.eof = in.fail = false;
    in.begin = in.end = 0;
}

// Closes the handles that a code-file output holds and removes its
// temporary file if it still stands.
void release_output(output_stream& out) {
    if (out.owns_handle && out.handle != no_file) close_handle(out.handle);
    if (out.target_handle != no_file) close_handle(out.target_handle);
    if (!out.temp_path.empty()) remove_file(out.temp_path);
    out.handle = out.target_handle = no_file;
    out.owns_handle = false;
    out.temp_path.clear();
}

}  // namespace

std::uint64_t whitespace_bits(std::string_view text, std::size_t base) {
    const char* from = text.data() + base;
    const std::size_t size = std::min<std::size_t>(text.size() - base, 64);
    std::uint64_t bits = size < 64 ? ~std::uint64_t{0} << size : 0;
    std::size_t k = 0;
#if defined(__SSE2__) || defined(_M_X64)
    for (; k + 16 <= size; k += 16) bits |= std::uint64_t{whitespace_mask16(from + k)} << k;
    if (k < size && base + size >= 16) {
        // The last bytes: load the 16 that end with them, keep their bits.
        bits |= std::uint64_t{whitespace_mask16(from + size - 16) >> (16 - (size - k))} << k;
        return bits;
    }
#endif
    for (; k < size; ++k) bits |= std::uint64_t{is_whitespace_byte(from[k])} << k;
    return bits;
}

input_stream::~input_stream() { close_code_file(*this); }

output_stream::~output_stream() { release_output(*this); }

void open_standard_output(output_stream& out) {
    out.handle = standard_output_handle();
    out.buffer.resize(console_block_size);
}

void open_standard_error(output_stream& out) {
    out.handle = standard_error_handle();
    out.buffer.resize(console_block_size);
}

void open_standard_input(input_stream& in, output_stream& tied_output) {
    in.handle = standard_input_handle();
    in.buffer.resize(console_block_size);
    in.tied = &tied_output;
}

void open_code_file_for_reading(input_stream& in, const std::string& name) {
    close_code_file(in);
    in.read_error = false;
    // A name holding a NUL byte cannot be handed to the platform whole.
    if (name.find('\0') == std::string::npos) in.handle = open_regular_file(name);
    in.owns_handle = in.handle != no_file;
    in.fail = in.handle == no_file;
    if (in.handle != no_file) in.buffer.resize(file_block_size);
}

bool is_open(const input_stream& in) { return in.handle != no_file; }

bool read_text_line_view(input_stream& in, std::string_view& line, std::string& spill) {
    line = {};
    if (!start_read(in)) return false;
    // Most lines end in LF or CR LF and hold no other CR: they stay where
    // they lie in the buffer.
    const char* start = in.buffer.data() + in.begin;
    const char* end = in.buffer.data() + in.end;
    const void* found = std::memchr(start, '\n', static_cast<std::size_t>(end - start));
    if (found != nullptr) {
        const char* lf = static_cast<const char*>(found);
        const char* stop = lf > start && lf[-1] == '\r' ? lf - 1 : lf;
        if (std::memchr(start, '\r', static_cast<std::size_t>(stop - start)) == nullptr) {
            line = {start, static_cast<std::size_t>(stop - start)};
            in.begin += static_cast<std::size_t>(lf + 1 - start);
            return true;
        }
    }
    // A CR inside the line, or a line that runs past the buffer: gather it
    // in `spill`, refilling the buffer as needed, and drop its CRs.
    spill.clear();
    bool ended_by_line_feed = consume_line(
        in, [&spill](const char* piece, std::size_t size) { spill.append(piece, size); });
    std::erase(spill, '\r');
    line = spill;
    return end_line_read(in, ended_by_line_feed, !spill.empty());
}

bool skip_text_line(input_stream& in, bool& holds_text) {
    holds_text = false;
    if (!start_read(in)) return false;
    // Only whether the line holds a byte other than CR matters: its first
    // byte mostly tells, so there is no second search as in reading it.
    bool ended_by_line_feed = consume_line(in, [&holds_text](const char* piece, std::size_t size) {
        holds_text =
            holds_text || std::any_of(piece, piece + size, [](char c) { return c != '\r'; });
    });
    return end_line_read(in, ended_by_line_feed, holds_text);
}

bool read_text_line(input_stream& in, std::string& line) {
    if (in.eof || in.fail) {
        in.fail = true;
        return false;
    }
    std::string_view view;
    bool delivered = read_text_line_view(in, view, line);
    line.assign(view);  // may view `line` itself; assign allows that
    return delivered;
}

bool read_field(input_stream& in, std::string& word) {
    if (in.eof || in.fail) {
        in.fail = true;
        return false;
    }
    if (in.tied != nullptr) flush_output(*in.tied);
    while (has_input(in) && is_whitespace_byte(in.buffer[in.begin])) ++in.begin;
    if (!has_input(in)) {
        in.eof = in.fail = true;
        return false;
    }
    word.clear();
    // A carriage return is dropped, not taken as whitespace, inside a word.
    while (has_input(in)) {
        char c = in.buffer[in.begin];
        if (c != '\r') {
            if (is_whitespace_byte(c)) break;
            word.push_back(c);
        }
        ++in.begin;
    }
    in.eof = in.begin == in.end && in.at_end;
    return true;
}

bool rewind_code_file(input_stream& in) {
    reset_input(in);
    if (is_open(in) && seek_to_start(in.handle)) return true;
    in.fail = true;
    in.at_end = true;
    return false;
}

void open_code_file_for_writing(output_stream& out, const std::string& name,
                                const input_stream& in) {
    release_output(out);
    out.failed = true;
    out.used = 0;
    if (!is_open(in) || !prepare_replacement(out, name, in)) {
        release_output(out);
        return;
    }
    out.failed = false;
    out.buffer.resize(file_block_size);
}

bool is_open(const output_stream& out) { return out.handle != no_file; }

void write_text(output_stream& out, std::string_view text) {
    while (!text.empty()) {
        const void* lf = std::memchr(text.data(), '\n', text.size());
        if (lf == nullptr) {
            put_bytes(out, text.data(), text.size());
            return;
        }
        auto length = static_cast<std::size_t>(static_cast<const char*>(lf) - text.data());
        put_bytes(out, text.data(), length);
        put_bytes(out, "\r\n", 2);
        text.remove_prefix(length + 1);
    }
}

void write_line(output_stream& out, std::string_view line) {
    assert(line.find('\n') == std::string_view::npos);
    put_bytes(out, line.data(), line.size());
    put_bytes(out, "\r\n", 2);
}

void write_number(output_stream& out, std::int64_t value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    put_bytes(out, digits, static_cast<std::size_t>(result.ptr - digits));
}

void end_line(output_stream& out) {
    write_text(out, "\n");
    flush_output(out);
}

bool flush_output(output_stream& out) {
    if (out.failed) return false;
    if (out.used > 0) out.failed = !write_block(out.handle, out.buffer.data(), out.used);
    out.used = 0;
    return !out.failed;
}

void close_code_file(input_stream& in) {
    if (in.owns_handle && in.handle != no_file) close_handle(in.handle);
    in.handle = no_file;
    in.owns_handle = false;
    reset_input(in);
}

bool close_code_file(output_stream& out) {
    bool done = is_open(out) && flush_output(out) && finish_replacement(out);
    release_output(out);
    out.failed = out.failed || !done;
    return done;
}
