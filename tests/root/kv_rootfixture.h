// The engine root on a temporary settings folder, its data-source file loaded
// from a given text, with the messages of its informer handed back to it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenode.h"
#include "datasources/kv_dstreenodeds.h"
#include "foundation/kv_file.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "requests/kv_fileman.h"
#include "root/kv_filemanpool.h"
#include "support/kv_testdir.h"

namespace roottest {

class RootTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.ok());
        for (const char* sub : {"settings", "tmp", "systmp", "work"})
            ASSERT_TRUE(KV_File::mkdir((tmp / sub).c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, (tmp / "settings").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (tmp / "tmp").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SYS_TMP, (tmp / "systmp").c_str()));
        work = tmp / "work";
        ASSERT_TRUE(kvtest::write_file(tmp / "settings/kivrel.ds", ds_text()));
        pool = std::make_unique<KV_FileManPool>();
        ASSERT_TRUE(pool->load_ds());
    }
    void TearDown() override
    {
        if (pool) {
            wait_term();
            pool.reset();
        }
    }

    // The data-source file the pool loads; empty gives the default tree.
    virtual std::string ds_text() const { return std::string(); }

    KV_DsTree& tree() { return pool->tree(); }
    KV_DsId local_ds() { return tree().find(KV_DS_NODE_STD, false)->id(); }

    // A data source of `node`'s kind in its protocol group.
    KV_DsTreeNode* add_ds(KV_DsTreeNode& node) { return pool->new_ds(&node, 0); }
    KV_DsTreeNode* add_ftp(const char* name, const char* addr, bool temporary = false)
    {
        KV_DsTreeNodeFtp n;
        n.set_name(name);
        n.params_ftp().set_dst_addr(addr);
        n.params_ftp().opts().set_temporary(temporary);
        return add_ds(n);
    }

    // Hands every queued message of the engine root's informer to the pool.
    void pump()
    {
        while (KV_Msg* m = pool->informer().pop()) {
            if (m->type() == KV_MSG_ERR)
                errors.emplace_back(static_cast<KV_MsgErrNtf*>(m)->text.data());
            else if (m->type() == KV_MSG_FILEOP)
                fileops.push_back(m);
            pool->process_ntf(m);
            if (m->type() == KV_MSG_FILEOP)
                continue;
            KV_Informer::destroy(m);
        }
    }
    // Pumps until `done` holds or 30 s have passed.
    bool pump_until(const std::function<bool()>& done)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            pump();
            if (done())
                return true;
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    bool wait_term()
    {
        return pump_until([this] { return pool->term(); });
    }

    // The error texts and the file-operation messages (owned) popped so far.
    std::vector<std::string> errors;
    std::vector<KV_Msg*> fileops;
    ~RootTest() override
    {
        for (KV_Msg* m : fileops)
            KV_Informer::destroy(m);
    }

    kvtest::TempDir tmp{"kv_root"};
    std::string work;
    std::unique_ptr<KV_FileManPool> pool;
};

} // namespace roottest
