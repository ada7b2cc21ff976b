#include "server/user_admin.h"

#include <openssl/crypto.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "server/password_hash.h"
#include "server/user_file.h"

namespace {

void Say(const std::string& text) {
    std::fprintf(stderr, "velmora-server: %s\n", text.c_str());
}

// A string whose bytes are wiped when it goes.
struct Secret {
    std::string text;
    ~Secret() { OPENSSL_cleanse(text.data(), text.size()); }
};

// The terminal's settings while echo is off, to put back on every way out, a signal included.
struct termios g_savedTerminal;
volatile sig_atomic_t g_echoOff = 0;
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RestoreEcho() {
    if (g_echoOff) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
        g_echoOff = 0;
    }
}

void OnEndingSignal(int signal) {
    RestoreEcho();
    // Then ends as the signal would have: the shell sees the real cause.
    ::signal(signal, SIG_DFL);
    raise(signal);
}

// One line of standard input without its line end; false at the end of the input.
bool ReadLine(Secret& line) {
    if (!std::getline(std::cin, line.text))
        return false;
    if (!line.text.empty() && line.text.back() == '\r')
        line.text.pop_back();
    return true;
}

bool AskWithoutEcho(const char* prompt, Secret& answer) {
    if (tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = OnEndingSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction previous[std::size(kEndingSignals)];
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
        sigaction(kEndingSignals[i], &action, &previous[i]);
    struct termios quiet = g_savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    g_echoOff = 1;
    // Echo goes off before the prompt shows, so nothing typed after it is ever echoed or lost.
    bool read = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
    if (read) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        read = ReadLine(answer);
    }
    RestoreEcho();
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
        sigaction(kEndingSignals[i], &previous[i], nullptr);
    return read;
}

bool ReadPassword(bool fromStandardInput, Secret& password) {
    if (fromStandardInput) {
        if (!ReadLine(password)) {
            Say("no password on standard input");
            return false;
        }
        return true;
    }
    if (!isatty(STDIN_FILENO)) {
        Say("standard input is not a terminal: pass the password there with --password-stdin");
        return false;
    }
    Secret again;
    if (!AskWithoutEcho("Password: ", password) || !AskWithoutEcho("Again: ", again)) {
        Say("no password read");
        return false;
    }
    if (password.text != again.text) {
        Say("the two passwords differ; nothing was changed");
        return false;
    }
    return true;
}

}  // namespace

int AddUserCommand(const std::string& usersFile, const std::string& name, bool fromStandardInput) {
    Secret password;
    if (!ReadPassword(fromStandardInput, password))
        return 1;
    const CUserFileLock lock(usersFile);
    CUserFile users(usersFile);
    if (!users.Load()) {
        Say(users.Error());
        return 1;
    }
    if (password.text.empty()) {
        Say("the password is empty; nothing was changed");
        return 1;
    }
    const std::string hash = HashPassword(password.text);
    if (hash.empty()) {
        Say("the password could not be hashed; nothing was changed");
        return 1;
    }
    const auto names = users.Names();
    const bool existed = std::find(names.begin(), names.end(), name) != names.end();
    users.Set(name, hash);
    if (!users.Save()) {
        Say(users.Error());
        return 1;
    }
    Say((existed ? "changed the password of " : "added the user ") + name + " in " + usersFile);
    // Whether logins are needed is settled when the server starts.
    if (names.empty())
        Say("a server already running goes on without logins until it is restarted");
    return 0;
}

int RemoveUserCommand(const std::string& usersFile, const std::string& name) {
    const CUserFileLock lock(usersFile);
    CUserFile users(usersFile);
    if (!users.Load()) {
        Say(users.Error());
        return 1;
    }
    if (!users.Remove(name)) {
        Say("there is no user " + name + " in " + usersFile);
        return 1;
    }
    if (!users.Save()) {
        Say(users.Error());
        return 1;
    }
    Say("removed the user " + name + "; a running server refuses their tokens from now on");
    return 0;
}

int ListUsersCommand(const std::string& usersFile) {
    CUserFile users(usersFile);
    if (!users.Load()) {
        Say(users.Error());
        return 1;
    }
    for (const auto& name : users.Names())
        std::printf("%s\n", name.c_str());
    return 0;
}
