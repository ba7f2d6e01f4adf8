// The history's own thread: a locked file holds up only that thread, which stores the runs once
// the file is free; jobs keep their order, and what was handed over is stored before the thread
// ends.

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "history/practice_database.h"
#include "history/practice_store_thread.h"
#include "history_test_files.h"

namespace {

using history_test::OtherConnection;
using history_test::RunAt;

TEST(PracticeStoreThreadTest, AFileHeldByAnotherWriterDelaysOnlyTheStoreThread) {
    QTemporaryDir dir;
    const QString song = dir.filePath("held.mid");
    {
        PracticeDatabase first(dir.path());
        ASSERT_TRUE(first.Store(RunAt(song, 1)));
    }
    OtherConnection holder(QDir(dir.path()).filePath("practice.sqlite"), 5000);
    ASSERT_TRUE(holder.Exec("BEGIN IMMEDIATE"));

    std::atomic<bool> stored{false};
    std::thread::id storedOn;
    QString message;
    {
        // Long enough that a store made here, on the caller's thread, would time out against
        // the holder below and put the file aside.
        PracticeStoreThread store(dir.path(), 30000);
        store.Post([&](PracticeDatabase& db) {
            storedOn = std::this_thread::get_id();
            stored = db.Store(RunAt(song, 2));
            message = db.TakeMessage();
        });
        // Handing over returned while the file is still held: nothing could be stored yet.
        EXPECT_FALSE(stored.load());
        ASSERT_TRUE(holder.Exec("COMMIT"));
        store.Finish();
        EXPECT_TRUE(stored.load());
    }

    EXPECT_NE(storedOn, std::this_thread::get_id());
    EXPECT_TRUE(message.isEmpty()) << message.toStdString();
    EXPECT_TRUE(QDir(dir.path()).entryList({"practice.sqlite.aside-*"}, QDir::Files).isEmpty());
    PracticeDatabase db(dir.path());
    EXPECT_EQ(db.RunsOf(song).size(), 2u);  // both in the one file
}

TEST(PracticeStoreThreadTest, EveryRunHandedOverIsStoredInOrderBeforeTheThreadEnds) {
    QTemporaryDir dir;
    const QString song = dir.filePath("many.mid");
    constexpr int kRuns = 25;
    std::vector<int> order;
    {
        PracticeStoreThread store(dir.path());
        for (int i = 0; i < kRuns; ++i) {
            store.Post([&order, &song, i](PracticeDatabase& db) {
                // Every run has the same start: the file keeps them in the order stored.
                StoredRun r = RunAt(song, 0);
                r.chords = i;
                if (db.Store(r)) {
                    order.push_back(i);
                }
            });
        }
        // No Finish(): ending the thread must not drop what is still queued.
    }
    ASSERT_EQ(order.size(), static_cast<size_t>(kRuns));
    PracticeDatabase db(dir.path());
    const std::vector<StoredRun> runs = db.RunsOf(song);
    ASSERT_EQ(runs.size(), static_cast<size_t>(kRuns));
    for (int i = 0; i < kRuns; ++i) {
        EXPECT_EQ(order[static_cast<size_t>(i)], i);
        EXPECT_EQ(runs[static_cast<size_t>(i)].chords, i);
    }
}

TEST(PracticeStoreThreadTest, ARunTheFileCouldNotTakeIsStoredOnceItIsFreeWithoutAnotherRun) {
    QTemporaryDir dir;
    const QString song = dir.filePath("later.mid");
    {
        PracticeDatabase first(dir.path());
        ASSERT_TRUE(first.Store(RunAt(song, 1)));
    }
    OtherConnection holder(QDir(dir.path()).filePath("practice.sqlite"), 5000);
    ASSERT_TRUE(holder.Exec("BEGIN IMMEDIATE"));
    {
        PracticeStoreThread store(dir.path(), 20, 10);
        bool stored = true;
        store.Post([&](PracticeDatabase& db) { stored = db.Store(RunAt(song, 2)); });
        store.Finish();
        EXPECT_FALSE(stored);
        EXPECT_FALSE(store.WaitUntilStored(std::chrono::milliseconds(0)));
        ASSERT_TRUE(holder.Exec("COMMIT"));
        EXPECT_TRUE(store.WaitUntilStored(std::chrono::seconds(20)));
    }
    PracticeDatabase db(dir.path());
    EXPECT_EQ(db.RunsOf(song).size(), 2u);
}

}  // namespace
