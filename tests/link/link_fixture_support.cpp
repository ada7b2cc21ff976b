#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "link_fixture.h"

CTempDir::CTempDir() {
    char pattern[] = "/tmp/velmora-link-XXXXXX";
    const char* made = mkdtemp(pattern);
    m_path = made != nullptr ? made : "/tmp";
}

CTempDir::~CTempDir() {
    if (m_path != "/tmp") {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (const int value : values) {
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

void ChannelOnSimulator::SetUp() {
    ASSERT_TRUE(m_shaker.Start());
    m_channel.SetLogDirectory(m_logDir.Path());
    m_channel.SetBytePause(std::chrono::milliseconds(0));
    ASSERT_EQ(OpenAgain(), 1);
}

void ChannelOnSimulator::TearDown() {
    m_channel.Close();
    m_shaker.Stop();
}
