#include "support.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace huemill_test {

std::string palette_bytes(unsigned entry_count, const std::vector<Rgb>& records) {
    std::string bytes(22, 'H');
    bytes += static_cast<char>(entry_count);
    for (const Rgb& record : records) {
        for (std::uint32_t value : {record[0], record[1], record[2], 0xEEEEEEEEU}) {
            for (int shift = 0; shift < 32; shift += 8) {
                bytes += static_cast<char>((value >> shift) & 0xFFU);
            }
        }
    }
    return bytes;
}

std::string expected_listing(const std::string& bytes) {
    const auto byte = [&](std::size_t i) -> std::uint32_t {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
    };
    std::string text = declaration;
    const std::size_t count = byte(22);
    for (std::size_t k = 0; k < count; ++k) {
        std::uint32_t rgb[3];
        for (std::size_t c = 0; c < 3; ++c) {
            const std::size_t at = 23 + 16 * k + 4 * c;
            rgb[c] = byte(at) | byte(at + 1) << 8 | byte(at + 2) << 16 | byte(at + 3) << 24;
        }
        char line[64];
        std::snprintf(line, sizeof line, "\nr: %X, g: %X, b: %X", rgb[0], rgb[1], rgb[2]);
        text += line;
    }
    return text + "\n";
}

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + 7) % 256);
    }
    return bytes;
}

std::string failure_message(const std::string& name, int error, const std::string& detail) {
    return "huemill: " + name + ": " + std::strerror(error) +
           (detail.empty() ? "" : " (" + detail + ")") + text_line_end;
}

bool can_run_unprivileged() {
#ifndef _WIN32
    return geteuid() != 0 || installed("setpriv");
#else
    return true;
#endif
}

std::vector<std::string> unprivileged_launcher() {
#ifndef _WIN32
    if (geteuid() == 0) {
        return {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
#endif
    return {};
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << "cannot write " << path;
}

std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

void ScratchFolder::SetUp() {
    std::random_device entropy;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = fs::temp_directory_path() /
            ("huemill-test-" + std::to_string(entropy()) + "-" + std::to_string(now));
    fs::create_directories(root_ / "work");
    previous_directory_ = fs::current_path();
    fs::current_path(root_ / "work");
#ifndef _WIN32
    program_ = HUEMILL_PROGRAM;
#endif
}

void ScratchFolder::TearDown() {
    fs::current_path(previous_directory_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void ScratchFolder::lay_out(const Contents& contents) const {
    const fs::path work = root_ / "work";
    for (const auto& entry : fs::directory_iterator(work)) {
        fs::remove_all(entry.path());
    }
    for (const auto& [name, bytes] : contents) {
        fs::create_directories((work / name).parent_path());
        if (name.back() != '/') {
            write_file(work / name, bytes);
        }
    }
}

Files ScratchFolder::files_left() const {
    Files names;
    const fs::path work = root_ / "work";
    for (const auto& entry : fs::recursive_directory_iterator(work)) {
        names.insert(entry.path().lexically_relative(work).generic_string());
    }
    return names;
}

#ifdef _WIN32

namespace {

// Quotes one argument so that the C runtime's command-line parser gives it
// back unchanged.
std::string quoted(const std::string& arg) {
    std::string result = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        result.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        result += c;
    }
    result.append(backslashes * 2, '\\');
    return result + "\"";
}

HANDLE inheritable_output(const fs::path& path) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    return CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts huemill with args, its standard output and error going to out and
// err, and returns the process; hProcess is null where it could not start.
// The command line goes to Windows in UTF-16, as a console would give it.
PROCESS_INFORMATION start_process(const std::vector<std::string>& args, HANDLE out, HANDLE err) {
    std::string command_line = quoted(HUEMILL_PROGRAM);
    for (const std::string& arg : args) {
        command_line += " " + quoted(arg);
    }
    std::wstring wide(command_line.size() + 1, L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(
        CP_UTF8, 0, command_line.c_str(), -1, wide.data(), static_cast<int>(wide.size()))));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    // Under wine, starting a process now and then fails while others start
    // at the same moment; that says nothing of huemill, so try again.
    DWORD start_error = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) {
            std::fprintf(stderr, "starting huemill failed with error %lu: trying again\n",
                         static_cast<unsigned long>(start_error));
            Sleep(100);
        }
        if (CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                           &startup, &process) != 0) {
            return process;
        }
        start_error = GetLastError();
    }
    ADD_FAILURE() << "cannot start " << command_line << ": error " << start_error;
    return PROCESS_INFORMATION{};
}

}  // namespace

void* start_huemill(const std::vector<std::string>& args) {
    const PROCESS_INFORMATION process =
        start_process(args, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE);
    if (process.hThread != nullptr) {
        CloseHandle(process.hThread);
    }
    return process.hProcess;
}

RunResult ScratchFolder::huemill(const std::vector<std::string>& args,
                                 const std::vector<std::string>& /*launcher*/) const {
    HANDLE out = inheritable_output(root_ / "stdout");
    HANDLE err = inheritable_output(root_ / "stderr");
    const PROCESS_INFORMATION process = start_process(args, out, err);
    CloseHandle(out);
    CloseHandle(err);
    if (process.hProcess == nullptr) {
        return {-1, "", ""};
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return {static_cast<int>(status), read_file(root_ / "stdout"), read_file(root_ / "stderr")};
}

#else

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

bool installed(const std::string& tool) {
    static std::map<std::string, bool> known;
    const auto [found, first] = known.try_emplace(tool);
    if (first) {
        found->second = std::system((tool + " --version > /dev/null 2>&1").c_str()) == 0;
    }
    return found->second;
}

bool under_wrapper() { return std::getenv("HUEMILL_TEST_WRAPPER") != nullptr; }

std::vector<std::string> through_proc(bool get_alone) {
    if (get_alone) {
        return {HUEMILL_NO_XATTRAT, "--getxattrat"};
    }
    return {HUEMILL_NO_XATTRAT};
}

namespace {

// err without the lines a wrapper writes of itself, not of the program:
// valgrind's "--PID-- " notes (a system call it does not know yet, such as
// listxattrat). What it finds in the program it writes as "==PID== ", and
// fails the run for.
std::string without_wrapper_notes(const std::string& err) {
    if (!under_wrapper()) {
        return err;
    }
    std::string kept;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t digits = line.find_first_not_of("0123456789", 2);
        const bool note = line.rfind("--", 0) == 0 && digits > 2 && digits != std::string::npos &&
                          line.compare(digits, 3, "-- ") == 0;
        if (!note) {
            kept += line + "\n";
        }
    }
    return kept;
}

}  // namespace

std::vector<std::string> from_inside() {
    // valgrind reads the program's symbols through /proc/self/fd: without
    // them it cannot replace the allocator it checks.
    if (geteuid() != 0 || under_wrapper()) {
        return {};
    }
    // /proc/self/fd hidden under an empty folder: the shell's pid is the
    // program's, which it becomes.
    return {
        "unshare", "--mount",         "sh", "-c", "mount -t tmpfs none /proc/$$/fd && exec \"$@\"",
        "sh",      HUEMILL_NO_XATTRAT};
}

std::vector<std::string> traced(const std::vector<std::string>& options) {
    if (under_wrapper() || !installed("strace")) {
        return {};
    }
    std::vector<std::string> command = {"strace", "-qq", "-E", "ASAN_OPTIONS=detect_leaks=0"};
    command.insert(command.end(), options.begin(), options.end());
    return command;
}

std::string access_of(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return "missing";
    }
    std::ostringstream access;
    access << "mode " << std::oct << (status.st_mode & 07777U) << std::dec << ", owner "
           << status.st_uid << ", group " << status.st_gid << ", acl";
    std::string acl(4096, '\0');
    const ssize_t size = lgetxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size());
    acl.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    for (const char byte : acl) {
        access << ' ' << std::hex << static_cast<unsigned>(static_cast<unsigned char>(byte));
    }
    return access.str();
}

bool feed_fifo(const std::string& fifo, const std::string& bytes,
               const std::function<void()>& meanwhile) {
    int writer = -1;
    for (int wait = 0; wait < 2500 && writer < 0; ++wait) {
        // Without a reader, a non-blocking open fails at once.
        writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer < 0) {
            usleep(2000);
        }
    }
    if (writer < 0) {
        return false;
    }
    meanwhile();
    const bool written =
        write(writer, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(writer);
    return written;
}

std::string TraceLine::first_argument() const {
    const std::size_t open = text.find('(');
    return text.substr(open + 1, text.find_first_of(",)", open) - open - 1);
}

std::string TraceLine::path() const {
    const std::size_t quote = text.find('"');
    return quote == std::string::npos
               ? ""
               : text.substr(quote + 1, text.find('"', quote + 1) - quote - 1);
}

std::string TraceLine::result() const {
    const std::size_t equals = text.rfind(") = ");
    return equals == std::string::npos ? "" : text.substr(equals + 4);
}

bool TraceLine::failed() const { return result().rfind("-1 ", 0) == 0; }

bool TraceLine::creates_file() const {
    return call == "openat" && text.find("O_CREAT") != std::string::npos;
}

std::vector<TraceLine> read_trace(const std::string& path) {
    std::vector<TraceLine> lines;
    std::istringstream trace(read_file(path));
    for (std::string text; std::getline(trace, text);) {
        const bool note = text.rfind("---", 0) == 0 || text.rfind("+++", 0) == 0;
        lines.push_back({text, note ? "" : text.substr(0, text.find('('))});
    }
    return lines;
}

int creating_openat(const std::string& path) {
    int count = 0;
    for (const TraceLine& line : read_trace(path)) {
        count += line.call == "openat" ? 1 : 0;
        if (line.creates_file()) {
            return count;
        }
    }
    return 0;
}

RunResult ScratchFolder::huemill(const std::vector<std::string>& args,
                                 const std::vector<std::string>& launcher) const {
    return huemill(args, launcher, [] {});
}

RunResult ScratchFolder::huemill(const std::vector<std::string>& args,
                                 const std::vector<std::string>& launcher,
                                 const std::function<void()>& meanwhile) const {
    std::vector<std::string> command(launcher);
    if (const char* wrapper = std::getenv("HUEMILL_TEST_WRAPPER")) {
        std::istringstream words(wrapper);
        for (std::string word; words >> word;) {
            command.push_back(word);
        }
    }
    command.push_back(program_);
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const std::string out_path = (root_ / "stdout").string();
    const std::string err_path = (root_ / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t child = 0;
    const int spawn_error = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawn_error != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return {-1, "", ""};
    }
    meanwhile();
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    const int status =
        WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    return {status, read_file(out_path), without_wrapper_notes(read_file(err_path))};
}

#endif

}  // namespace huemill_test
