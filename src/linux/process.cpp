// huemill's hooks on Linux for the process itself (see platform.hpp): its
// arguments, its messages, and interruptions held back while a listing is
// being replaced: hold_interruptions blocks signals (sigprocmask), and
// allow_interruptions unblocks them.
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "linux/layer.hpp"

namespace huemill::platform {
namespace {

// The signals held back while a listing is being replaced, and the mask to
// go back to afterwards.
sigset_t held_signals;
sigset_t signals_before;

}  // namespace

void prepare_process() {
    // A closed pipe or a file-size limit fails the write, which is then
    // reported, instead of ending the process.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    // Every signal can be held but those the process raises on itself by a
    // fault, which must act at once. Blocking one whose default action does
    // not end the process (SIGCHLD, SIGTSTP) only delays it by as long, and
    // one that is ignored stays ignored: nothing is installed for any.
    sigfillset(&held_signals);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) {
        sigdelset(&held_signals, fault);
    }
}

void hold_interruptions() { sigprocmask(SIG_BLOCK, &held_signals, &signals_before); }

void allow_interruptions() {
    // A signal that arrived meanwhile is delivered as the mask opens, and
    // ends the process here.
    sigprocmask(SIG_SETMASK, &signals_before, nullptr);
}

char** utf8_arguments(int /*argc*/, char* argv[], Arguments& /*kept*/) { return argv; }

unsigned long process_id() { return static_cast<unsigned long>(getpid()); }

int write_text(Stream stream, std::string_view text) {
    return write_all(stream == Stream::output ? STDOUT_FILENO : STDERR_FILENO, text);
}

bool console_closes_with_the_run() { return false; }

void wait_for_a_key() {}

std::string system_words(int error) { return std::strerror(error); }

}  // namespace huemill::platform
