#ifndef KV_TESTS_APP_SUPPORT_KV_APPRUN_H
#define KV_TESTS_APP_SUPPORT_KV_APPRUN_H

// The end of an end-to-end run: the program's own event loop runs until the
// transfer it was given ends, then quits as a person would.

#include "requests/kv_filereqinfoman.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"

#include <QString>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace kvtest {

// Runs the event loop until a request ends (completed or failed) or `ms`
// pass, then quits; `on_end` sees the request as it ended, before the quit.
// Checks that the loop and the program ended well and the request completed.
inline void RunUntilRequestEnds(CKivrelApp& app,
                                const std::function<void(const KV_FileReqInfo&)>& on_end = {},
                                int ms = 90000)
{
    KV_FileManPool& pool = *app.GetPool();
    QString outcome;
    bool completed = false;
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(
            pool.man_trans().man_info().map());
        for (it.first(); !it.end() && outcome.isEmpty(); it.next()) {
            const KV_FileReqInfo* info = it.value();
            if (info->status() >= KV_REQ_STAT_COMPLETED) {
                completed = info->status() == KV_REQ_STAT_COMPLETED;
                outcome = QString::fromUtf8(info->status_str()) + " " +
                          QString::fromUtf8(info->last_err().data());
                if (on_end) {
                    on_end(*info);
                }
                app.PrepareQuit();
            }
        }
    });
    watch.start();
    QTimer::singleShot(ms, &app, [&] {
        if (outcome.isEmpty()) {
            outcome = "still running";
            app.PrepareQuit();
        }
    });
    EXPECT_EQ(app.exec(), 0);
    app.ExitInstance();
    EXPECT_TRUE(completed) << outcome.toStdString();
}

} // namespace kvtest

#endif
