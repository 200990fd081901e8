// An in-memory Input for the reader tests.
#pragma once

#include "sevenzip.h"

#include <cstring>
#include <string>

class MemoryInput : public quillon::Input
{
public:
    explicit MemoryInput(std::string data) : m_data(std::move(data)) {}
    std::uint64_t size() const override { return m_data.size(); }
    bool readAt(std::uint64_t offset, void *buffer, std::size_t count) override
    {
        if (offset > m_data.size() || count > m_data.size() - offset)
            return false;
        std::memcpy(buffer, m_data.data() + offset, count);
        return true;
    }
    const std::string &data() const { return m_data; }

private:
    std::string m_data;
};

// Collects what the reader delivers.
class CollectSink : public quillon::sevenzip::Sink
{
public:
    bool directory(const quillon::sevenzip::Entry &entry) override
    {
        paths.push_back(entry.path + "/");
        return true;
    }
    bool beginFile(const quillon::sevenzip::Entry &entry) override
    {
        paths.push_back(entry.path);
        contents.emplace_back();
        return true;
    }
    bool write(const std::uint8_t *data, std::size_t size) override
    {
        contents.back().append(reinterpret_cast<const char *>(data), size);
        return true;
    }
    bool endFile(const quillon::sevenzip::Entry &) override
    {
        ++finished;
        return true;
    }
    std::vector<std::string> paths;
    std::vector<std::string> contents;
    int finished = 0;
};
