// A child process for the process tests. The first argument chooses what it does:
//   exit STATUS [TEXT]       print TEXT (if given), exit with STATUS
//   raise SIGNAL             end by that signal
//   flood BYTES              write BYTES bytes of the flood pattern in 64 KiB writes
//   split-char WAITFILE      write the first two bytes of "€", wait until WAITFILE exists, write the rest
//   interleave               alternate lines on stdout and stderr, pausing between them
//   sleep SECONDS            sleep
//   ignore-term SECONDS      ignore SIGTERM, print "ready", sleep
//   lines TEXT...            print each TEXT on a line of its own (JSON lines, for instance)
//   env-args ARGUMENT...     print "env NAME=VALUE" for the environment, then "arg [ARGUMENT]" for each
//   pid-exit                 print "pid N" and exit at once
//   touch PATH               create an empty file at PATH
//   fds                      print "fd N" for each open descriptor above standard error
//   prompt                   print which standard streams are terminals and "password?", read a line from
//                            standard input and print it back on standard error as "got [LINE]"
#include "TestChild.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern char** environ;

namespace {

void writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0)
            std::_Exit(120);
        text.remove_prefix(std::size_t(written));
    }
}

void pause(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

int flood(long long total)
{
    std::vector<char> block(64 * 1024);
    for (long long done = 0; done < total;) {
        const auto count = std::size_t(std::min<long long>(total - done, (long long)block.size()));
        for (std::size_t i = 0; i < count; ++i)
            block[i] = mirvo::test::floodByte(done + (long long)i);
        writeAll(STDOUT_FILENO, std::string_view(block.data(), count));
        done += (long long)count;
    }
    return 0;
}

int splitCharacter(const char* waitFile)
{
    writeAll(STDOUT_FILENO, "\xE2\x82");
    for (int i = 0; i < 1000 && ::access(waitFile, F_OK) != 0; ++i)
        pause(0.01);
    writeAll(STDOUT_FILENO, "\xAC\n");
    return 0;
}

int interleave()
{
    for (int i = 1; i <= 3; ++i) {
        writeAll(STDOUT_FILENO, "out " + std::to_string(i) + "\n");
        pause(0.02);
        writeAll(STDERR_FILENO, "err " + std::to_string(i) + "\n");
        pause(0.02);
    }
    return 0;
}

int ignoreTerm(double seconds)
{
    std::signal(SIGTERM, SIG_IGN);
    writeAll(STDOUT_FILENO, "ready\n");
    pause(seconds);
    return 0;
}

int openDescriptors()
{
    long limit = ::sysconf(_SC_OPEN_MAX);
    if (limit < 0 || limit > 65536)
        limit = 65536;
    for (int fd = STDERR_FILENO + 1; fd < limit; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0)
            writeAll(STDOUT_FILENO, "fd " + std::to_string(fd) + "\n");
    }
    return 0;
}

int prompt()
{
    std::string terminals = "terminals:";
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::isatty(fd))
            terminals += " " + std::to_string(fd);
    }
    writeAll(STDOUT_FILENO, terminals + "\npassword?\n");
    std::string line;
    char byte = 0;
    while (::read(STDIN_FILENO, &byte, 1) == 1 && byte != '\n')
        line += byte;
    writeAll(STDERR_FILENO, "got [" + line + "]\n");
    return 0;
}

int environmentAndArguments(int argc, char** argv)
{
    for (char** entry = environ; *entry; ++entry)
        writeAll(STDOUT_FILENO, std::string("env ") + *entry + "\n");
    for (int i = 0; i < argc; ++i)
        writeAll(STDOUT_FILENO, std::string("arg [") + argv[i] + "]\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string_view mode = argc > 1 ? argv[1] : "";
    const char* first = argc > 2 ? argv[2] : "";
    if (mode == "exit") {
        if (argc > 3)
            writeAll(STDOUT_FILENO, argv[3]);
        return std::atoi(first);
    }
    if (mode == "raise") {
        std::signal(std::atoi(first), SIG_DFL);
        std::raise(std::atoi(first));
        return 121;
    }
    if (mode == "flood")
        return flood(std::atoll(first));
    if (mode == "split-char")
        return splitCharacter(first);
    if (mode == "interleave")
        return interleave();
    if (mode == "sleep") {
        pause(std::atof(first));
        return 0;
    }
    if (mode == "ignore-term")
        return ignoreTerm(std::atof(first));
    if (mode == "lines") {
        for (int i = 2; i < argc; ++i)
            writeAll(STDOUT_FILENO, std::string(argv[i]) + "\n");
        return 0;
    }
    if (mode == "env-args")
        return environmentAndArguments(argc - 2, argv + 2);
    if (mode == "pid-exit") {
        writeAll(STDOUT_FILENO, "pid " + std::to_string(::getpid()) + "\n");
        std::_Exit(0);
    }
    if (mode == "touch") {
        const int fd = ::open(first, O_WRONLY | O_CREAT, 0644);
        return fd < 0 ? 1 : ::close(fd);
    }
    if (mode == "fds")
        return openDescriptors();
    if (mode == "prompt")
        return prompt();
    writeAll(STDERR_FILENO, "unknown mode\n");
    return 64;
}
