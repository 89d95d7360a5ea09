// The one store of host keys is shared by every SSH session thread.
#include "ssh/kv_sshkeyman.h"

#include <gtest/gtest.h>

#include <openssl/bn.h>

#include <string>
#include <thread>
#include <vector>

#include "foundation/kv_file.h"
#include "support/kv_sshtest.h"
#include "support/kv_testdir.h"

namespace {

// Sessions adding and checking keys at once: every key is stored once with
// an id of its own, and every added key is valid at once.
TEST(KvSshKeyMan_MT, SessionsAddAndCheckAtOnce)
{
    kvtest::TempDir dir("kv_sshkeyman_mt");
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(KV_File::set_path(KV_PATH_HOST_KEYS, (dir / "trusted-pks.bin").c_str()));
    KV_SshKeyMan man;
    constexpr int threads = 4, per_thread = 10;
    std::vector<std::thread> pool;
    std::vector<int> failures(threads, 0);
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            for (int i = 0; i < per_thread; ++i) {
                KV_SshKey key;
                if (!key.init_key(KV_SSH_KEY_RSA) || !BN_set_word(key.num(0), 65537) ||
                    !BN_set_word(key.num(1), static_cast<BN_ULONG>(1000 + i))) {
                    ++failures[t];
                    continue;
                }
                const KV_String host = KV_String::format_impl("host%d", t);
                // Two threads race for the same key of one host: one wins.
                man.add(key, host, "fp");
                man.add(key, KV_String::format_impl("shared%d", i), "fp");
                if (!man.valid(key, host))
                    ++failures[t];
            }
        });
    }
    for (std::thread& th : pool)
        th.join();
    for (int f : failures)
        EXPECT_EQ(f, 0);
    EXPECT_EQ(man.entries(), uint32_t(threads * per_thread + per_thread));
    std::vector<bool> seen(man.entries() + 1, false);
    man.lock();
    for (uint32_t i = 0; i < man.entries(); ++i) {
        const uint32_t id = man.at(i).id();
        ASSERT_GE(id, 1u);
        ASSERT_LE(id, man.entries());
        EXPECT_FALSE(seen[id]);
        seen[id] = true;
    }
    man.unlock();
    KV_SshKeyMan back;
    ASSERT_TRUE(back.load());
    EXPECT_EQ(back.entries(), man.entries());
    KV_File::set_path(KV_PATH_HOST_KEYS, "");
}

} // namespace
