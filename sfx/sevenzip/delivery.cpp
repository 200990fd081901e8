#include "delivery.h"

#include "crc32.h"
#include "threads.h"

#include <new>
#include <string>
#include <vector>

namespace quillon::sevenzip::detail {
namespace {

Error createError(const Entry &entry)
{
    return Error(ErrorKind::Io, 0, "cannot create " + entry.path);
}
Error writeError(const Entry &entry)
{
    return Error(ErrorKind::Io, 0, "cannot write " + entry.path);
}
Error finishError(const Entry &entry)
{
    return Error(ErrorKind::Io, 0, "cannot finish " + entry.path);
}

// The CRCs of the file being handed on and of its folder.
class Checker
{
public:
    void begin(const Entry &entry, const FolderCheck &folder)
    {
        m_entry = &entry;
        m_folder = folder;
        m_fileCrc = 0;
        if (folder.first)
            m_folderCrc = 0;
    }
    void update(const std::uint8_t *data, std::size_t size)
    {
        if (m_entry->hasCrc)
            m_fileCrc = crc32Update(m_fileCrc, data, size);
        if (m_folder.check)
            m_folderCrc = crc32Update(m_folderCrc, data, size);
    }
    Error verify() const
    {
        if (m_folder.check && m_folder.last && m_folderCrc != m_folder.crc)
            return Error(ErrorKind::CrcMismatch, 0, "CRC of the block holding " + m_entry->path);
        if (m_entry->hasCrc && m_fileCrc != m_entry->crc)
            return Error(ErrorKind::CrcMismatch, 0, "CRC of " + m_entry->path);
        return {};
    }
    const Entry &entry() const { return *m_entry; }

private:
    const Entry *m_entry = nullptr;
    FolderCheck m_folder;
    std::uint32_t m_fileCrc = 0;
    std::uint32_t m_folderCrc = 0;
};

class DirectDelivery : public Delivery
{
public:
    explicit DirectDelivery(Sink &sink)
        : m_sink(sink), m_buffer(new (std::nothrow) std::uint8_t[kDeliveryChunk])
    {
    }
    std::uint8_t *buffer(std::size_t &room) override
    {
        room = kDeliveryChunk;
        return m_buffer.get();
    }
    Error directory(const Entry &entry) override
    {
        return m_sink.directory(entry) ? Error() : createError(entry);
    }
    Error beginFile(const Entry &entry, const FolderCheck &folder) override
    {
        m_checker.begin(entry, folder);
        return m_sink.beginFile(entry) ? Error() : createError(entry);
    }
    Error write(std::size_t size) override
    {
        m_checker.update(m_buffer.get(), size);
        return m_sink.write(m_buffer.get(), size) ? Error() : writeError(m_checker.entry());
    }
    Error endFile(const Entry &entry) override
    {
        Error error = m_checker.verify();
        if (error.failed())
            return error;
        return m_sink.endFile(entry) ? Error() : finishError(entry);
    }
    Error finish() override { return {}; }

private:
    Sink &m_sink;
    std::unique_ptr<std::uint8_t[]> m_buffer;
    Checker m_checker;
};

// Bytes are decoded into a few large buffers; small files share one, so a
// folder of small files still keeps the writer busy.
constexpr std::size_t kQueueBuffers = 4;
constexpr std::size_t kQueueBufferSize = 1 << 20;
constexpr std::size_t kMinRoom = 64 << 10; // less left: start the next buffer
constexpr std::size_t kMaxOps = 1024;
// An idle writer is woken for a full buffer, this many operations, or when
// the decoder has to wait for it; not for every file.
constexpr std::size_t kWakeOps = 256;

class QueuedDelivery : public Delivery
{
public:
    explicit QueuedDelivery(Sink &sink) : m_sink(sink) {}
    ~QueuedDelivery() override
    {
        finish();
        for (auto &b : m_buffers)
            delete[] b.data;
    }

    bool start()
    {
        for (auto &b : m_buffers) {
            b.data = new (std::nothrow) std::uint8_t[kQueueBufferSize];
            if (!b.data)
                return false;
        }
        m_ops.resize(kMaxOps);
        m_running = m_thread.start(&QueuedDelivery::run, this);
        return m_running;
    }

    std::uint8_t *buffer(std::size_t &room) override
    {
        Lock lock(m_mutex);
        if (m_fill != kNone && kQueueBufferSize - m_buffers[m_fill].used < kMinRoom)
            closeFill();
        while (m_fill == kNone) {
            for (std::size_t i = 0; i < kQueueBuffers; ++i) {
                Buffer &b = m_buffers[i];
                if (!b.open && b.pending == 0) {
                    b.open = true;
                    b.used = 0;
                    m_fill = i;
                    break;
                }
            }
            if (m_fill == kNone)
                waitForWriter(lock);
        }
        Buffer &b = m_buffers[m_fill];
        room = kQueueBufferSize - b.used;
        return b.data + b.used;
    }

    Error directory(const Entry &entry) override
    {
        return push({Op::Directory, &entry, 0, 0, 0, {}});
    }
    Error beginFile(const Entry &entry, const FolderCheck &folder) override
    {
        return push({Op::Begin, &entry, 0, 0, 0, folder});
    }
    Error write(std::size_t size) override
    {
        Buffer &b = m_buffers[m_fill];
        const Op op{Op::Write, nullptr, m_fill, b.used, size, {}};
        {
            Lock lock(m_mutex);
            b.used += size;
            ++b.pending;
        }
        return push(op);
    }
    Error endFile(const Entry &entry) override { return push({Op::End, &entry, 0, 0, 0, {}}); }

    Error finish() override
    {
        if (!m_running)
            return m_error;
        {
            Lock lock(m_mutex);
            m_closed = true;
            m_forWriter.notifyAll();
        }
        m_thread.join();
        m_running = false;
        return m_error;
    }

private:
    static constexpr std::size_t kNone = SIZE_MAX;

    struct Op
    {
        enum Kind
        {
            Directory,
            Begin,
            Write,
            End
        } kind;
        const Entry *entry;
        std::size_t buffer;
        std::size_t offset;
        std::size_t size;
        FolderCheck folder;
    };
    struct Buffer
    {
        std::uint8_t *data = nullptr;
        std::size_t used = 0;
        std::size_t pending = 0; // queued writes from it
        bool open = false;       // still being filled
    };

    void closeFill()
    {
        m_buffers[m_fill].open = false;
        m_fill = kNone;
        wakeWriter();
    }

    void wakeWriter()
    {
        if (m_writerIdle)
            m_forWriter.notifyAll();
    }

    // The decoder waits for the writer to free a buffer or queue room.
    void waitForWriter(Lock &lock)
    {
        wakeWriter();
        m_decoderWaiting = true;
        m_forDecoder.wait(lock);
        m_decoderWaiting = false;
    }

    Error push(const Op &op)
    {
        Lock lock(m_mutex);
        while (m_count == kMaxOps && !m_failed)
            waitForWriter(lock);
        if (m_failed) {
            if (op.kind == Op::Write)
                --m_buffers[op.buffer].pending;
            return m_error;
        }
        m_ops[(m_head + m_count) % kMaxOps] = op;
        ++m_count;
        if (m_count >= kWakeOps)
            wakeWriter();
        return {};
    }

    static void run(void *self) { static_cast<QueuedDelivery *>(self)->drain(); }

    // The writer thread: applies the operations in order; after a failure it
    // only gives the buffers back.
    void drain()
    {
        Lock lock(m_mutex);
        for (;;) {
            while (m_count == 0 && !m_closed) {
                m_writerIdle = true;
                m_forWriter.wait(lock);
                m_writerIdle = false;
            }
            if (m_count == 0)
                return;
            const Op op = m_ops[m_head];
            m_head = (m_head + 1) % kMaxOps;
            --m_count;
            if (!m_failed) {
                m_mutex.unlock();
                Error error = apply(op);
                m_mutex.lock();
                if (error.failed()) {
                    m_error = error;
                    m_failed = true;
                }
            }
            if (op.kind == Op::Write)
                --m_buffers[op.buffer].pending;
            if (m_decoderWaiting)
                m_forDecoder.notifyAll();
        }
    }

    Error apply(const Op &op)
    {
        switch (op.kind) {
        case Op::Directory:
            return m_sink.directory(*op.entry) ? Error() : createError(*op.entry);
        case Op::Begin:
            m_checker.begin(*op.entry, op.folder);
            return m_sink.beginFile(*op.entry) ? Error() : createError(*op.entry);
        case Op::Write: {
            const std::uint8_t *data = m_buffers[op.buffer].data + op.offset;
            m_checker.update(data, op.size);
            return m_sink.write(data, op.size) ? Error() : writeError(m_checker.entry());
        }
        case Op::End: {
            Error error = m_checker.verify();
            if (error.failed())
                return error;
            return m_sink.endFile(*op.entry) ? Error() : finishError(*op.entry);
        }
        }
        return {};
    }

    Sink &m_sink;
    Thread m_thread;
    bool m_running = false;
    Mutex m_mutex;
    Condition m_forWriter;  // operations queued, or closed
    Condition m_forDecoder; // a buffer or queue room freed, or failed
    bool m_writerIdle = false;
    bool m_decoderWaiting = false;
    Buffer m_buffers[kQueueBuffers];
    std::size_t m_fill = kNone; // the buffer being filled
    std::vector<Op> m_ops;      // a ring of kMaxOps
    std::size_t m_head = 0;
    std::size_t m_count = 0;
    bool m_closed = false;
    bool m_failed = false;
    Error m_error;
    Checker m_checker; // writer thread only
};

} // namespace

std::unique_ptr<Delivery> makeDelivery(Sink &sink, bool writerThread)
{
    if (writerThread) {
        auto queued = std::make_unique<QueuedDelivery>(sink);
        if (queued->start())
            return queued;
    }
    auto direct = std::make_unique<DirectDelivery>(sink);
    std::size_t room = 0;
    if (!direct->buffer(room))
        return nullptr;
    return direct;
}

} // namespace quillon::sevenzip::detail
