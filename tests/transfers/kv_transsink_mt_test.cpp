// KV_TransSink with several fragments of one sub-log written at once, each
// from a thread of its own, as the workers of a segmented download do: every
// fragment keeps its own bytes whatever the others write meanwhile.
#include "transfers/kv_transsink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_filedata.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_translogcp.h"
#include "transfers/kv_transtest.h"

namespace {

using transtest::Bytes;
using transtest::path_of;
using transtest::read_all;

class TransSinkThreads : public kvtest::TempDirTest
{
protected:
    kvtest::LogErr eh;
};

TEST_F(TransSinkThreads, FragmentsWrittenAtOnceKeepTheirOwnBytes)
{
    constexpr int64_t size = 400000;
    constexpr int nfrags = 4;
    Bytes file(size);
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<unsigned char>((i * 7 + 3) ^ (i >> 11));
    KV_FileData fd("file.bin", "Jan 01 2024", size, KV_Time());
    fd.set_fd_flags(KV_FD_SIZE, 0);
    KV_TransLogCp log(nullptr, "", fd, path_of({"/", "f.bin"}), path_of({"/", "g.bin"}));
    log.set_flags_init(true, true, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
    ASSERT_TRUE(log.set_name((dir / "seg").c_str()));
    ASSERT_TRUE(log.create(eh));
    log.man_frag().clear();
    const int64_t part = size / nfrags;
    for (int i = 0; i < nfrags; ++i)
        ASSERT_TRUE(log.man_frag().add_new(i * part, (i + 1) * part, KV_FileFrag::IN_TRANSFER));

    std::vector<std::thread> workers;
    std::vector<int> ok(nfrags, 0);
    for (int i = 0; i < nfrags; ++i) {
        KV_FileFrag* f = nullptr;
        ASSERT_TRUE(log.man_frag().find_pos(&f, i * part));
        ASSERT_NE(f, nullptr);
        workers.emplace_back([&, f, i] {
            KV_TransSink sink(&log, f);
            // Held and direct writes side by side, in pieces of odd sizes,
            // and each server sends on past its fragment's end.
            sink.set_hold(i % 2 == 0 ? 0 : 10000);
            bool good = sink.open(nullptr);
            int64_t at = f->begin();
            const uint32_t chunk = 997 + 1000 * static_cast<uint32_t>(i);
            while (good && !sink.full() && at < size) {
                const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(chunk, size - at));
                good = sink.write(file.data() + at, n);
                at += n;
            }
            good = sink.close() && good && sink.complete();
            ok[i] = good ? 1 : 0;
        });
    }
    for (std::thread& t : workers)
        t.join();
    for (int i = 0; i < nfrags; ++i)
        EXPECT_EQ(ok[i], 1) << "fragment " << i;

    const std::string out = dir / "out";
    KV_File target(out.c_str(), "wb");
    ASSERT_TRUE(target.open());
    ASSERT_TRUE(log.copy_frags(target, nullptr));
    ASSERT_TRUE(target.close());
    EXPECT_TRUE(read_all(out) == file);
}

} // namespace
