#pragma once

#include <string>
#include <string_view>
#include <vector>

// A user name: 1 to 64 of the letters a-z and A-Z, the digits, '.', '_' and '-'.
bool IsValidUserName(std::string_view name);

// The server's users file: one line per user, "NAME:HASH" (see password_hash.h); blank lines,
// comments ('#') and any other line are kept as they are. It is only ever replaced whole, readable
// by its owner alone, in a folder that only its owner may enter.
class CUserFile {
  public:
    explicit CUserFile(std::string path);

    // False (and Error() says why) when the file exists but can't be read; a file that doesn't
    // exist holds no users.
    bool Load();
    // False (and Error() says why) when it couldn't be written; the old file is then untouched.
    bool Save();

    std::vector<std::string> Names() const;
    // The password hash of `name`; empty for an unknown user.
    std::string HashOf(std::string_view name) const;
    // Adds the user, or replaces the hash of an existing one.
    void Set(std::string_view name, const std::string& hash);
    // False when there was no such user.
    bool Remove(std::string_view name);

    const std::string& Path() const { return m_path; }
    const std::string& Error() const { return m_error; }

  private:
    std::string m_path;
    std::vector<std::string> m_lines;
    std::string m_error;
};

// Held while a command reads, changes and writes the users file back, so that two commands at
// once can't lose one's change. Without a lock file (an unwritable folder) it holds nothing and
// the write itself fails.
class CUserFileLock {
  public:
    explicit CUserFileLock(const std::string& usersFile);
    ~CUserFileLock();
    CUserFileLock(const CUserFileLock&) = delete;
    CUserFileLock& operator=(const CUserFileLock&) = delete;

  private:
    int m_fd = -1;
};

// Whether `password` is `name`'s in the users file at `path`. An unknown name, or a file that
// can't be read, takes as long as a wrong password.
bool CheckUserPassword(const std::string& path, std::string_view name, std::string_view password);
