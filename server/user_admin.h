#pragma once

#include <string>

// The commands that keep the users file: each prints what it did and returns the process's
// exit code (0 done, 1 failed).

// Asks for the password twice on the terminal, or reads one line of standard input when
// `fromStandardInput`; adds the user, or gives an existing one the new password.
int AddUserCommand(const std::string& usersFile, const std::string& name, bool fromStandardInput);
int RemoveUserCommand(const std::string& usersFile, const std::string& name);
// The users' names on standard output, one a line.
int ListUsersCommand(const std::string& usersFile);
