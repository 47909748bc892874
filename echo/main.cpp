// tarnwick-echo: the only part of Tarnwick that may hold CAP_NET_RAW. The window starts it and
// talks to it over two pipes, in the messages of contract/EchoProtocol.h.
//
// After launch, before it reads a byte of any request, it opens its one ICMP socket (a ping
// socket where the user's group may use them, otherwise a raw socket with CAP_NET_RAW raised
// for that call and a locked filter that admits only its own replies and errors), notes whether
// its real user is root, then gives up every capability, sets no-new-privileges, stays
// non-dumpable, maps its packet area (an echo request's type and code on a read-only page),
// closes every other descriptor and installs a system-call filter. Then it greets and serves
// echo requests, one at a time, until its input ends or its reader leaves. For any user but
// root it sends them no closer than 2 ms apart (500 a second at most, whatever the timeouts,
// sizes and addresses asked), as ping allows a user; the wait comes before an echo's start, so
// the round trip it reports leaves it out.
//
// Whoever took over this process after that could still: send ICMP echo requests (type 8, code
// 0) with any data, identifier and sequence, to any address, at any pace; read the replies and
// errors about its socket's echoes; read its input and write its output and standard error.
// It could not send any other ICMP type or code (sendto is allowed from the one buffer whose
// type and code lie on a read-only page, which no allowed call can change), forge an IP header
// or set a TTL, TOS or any other socket option, open files or sockets, start programs, map or
// unprotect memory, read others' ICMP traffic, or hand its socket on: every other system call
// ends the process.
#include "echo/Confinement.h"
#include "echo/EchoExchange.h"
#include "echo/EchoSocket.h"
#include "echo/Requests.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace {

using namespace tarnwick::echo;

std::uint8_t frameArea[kLargestFrame];
std::uint8_t answerArea[kLargestAnswer];

// Straight to the one exit call the filter allows: nothing to flush or free, and no runtime's
// exit hooks (a sanitizer's among them) to make calls the filter forbids.
[[noreturn]] void Exit(int status) {
    syscall(SYS_exit_group, status);
    __builtin_unreachable();
}

void Say(const char* message) {
    (void)!write(STDERR_FILENO, message, std::strlen(message));
}

} // namespace

int main() {
    // Requests come on 0 and answers go to 1: without them there is nobody to serve, and a
    // socket must never take either number. Messages to a closed 2 go nowhere.
    if (fcntl(STDIN_FILENO, F_GETFD) < 0 || fcntl(STDOUT_FILENO, F_GETFD) < 0)
        return 2;
    if (fcntl(STDERR_FILENO, F_GETFD) < 0 && open("/dev/null", O_WRONLY) != STDERR_FILENO)
        return 2;
    // A reader gone shows as a failed write, not a signal.
    signal(SIGPIPE, SIG_IGN);

    const OpenedSocket opened = OpenEchoSocket();
    // Asked once, while the filter still allows it: ping paces users, not root.
    const bool paced = getuid() != 0;
    // Runs whatever became of the socket.
    if (!DropEverything()) {
        Say("tarnwick-echo: cannot give up its capabilities; not serving\n");
        return 1;
    }
    // Made before the filter, which forbids mapping memory.
    EchoExchange exchange(opened.socket, STDOUT_FILENO, paced);
    if (!CloseOtherDescriptors(opened.socket.descriptor) ||
        !Confine(opened.socket.descriptor, exchange.SendBuffer())) {
        Say("tarnwick-echo: cannot confine itself; not serving\n");
        return 1;
    }
    if (!WriteGreeting(STDOUT_FILENO, opened.socket.kind, opened.failure))
        Exit(0);

    for (std::size_t size = 0; ReadFrame(STDIN_FILENO, frameArea, size);) {
        const JudgedRequest judged = DecodeRequest({frameArea, size});
        EchoOutcome outcome;
        if (judged.verdict == Verdict::Served) {
            outcome = exchange.Echo(judged.request,
                                    AnswerRecord(answerArea, judged.request.replyCapacity));
            if (outcome.readerGone)
                break;
        }
        if (!WriteAnswer(STDOUT_FILENO, answerArea, judged.verdict, outcome.replies,
                         outcome.recordSize))
            break;
    }
    Exit(0);
}
