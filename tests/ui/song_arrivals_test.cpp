// Files reaching the window from the command line or a later start: taken as a drop, but only
// when no dialog stands in front; and Shift+F10 for the context menu.

#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ui/control_ids.h"
#include "ui/song_arrivals.h"
#include "ui/track_list_box.h"
#include "ui_test_support.h"

namespace {

class SongArrivalsTest : public WindowTest {
  protected:
    void OpenWithArrivals() {
        OpenWindow();
        m_arrivals = std::make_unique<SongArrivals>(
            *m_window, [this](const QStringList& files) { m_window->OnDropFiles(files); });
    }
    QString Q(const std::string& path) { return QString::fromStdString(path); }
    std::unique_ptr<SongArrivals> m_arrivals;
};

TEST_F(SongArrivalsTest, ABatchIsAddedAsADropWithItsMessagesAndTheLastFileSelected) {
    const std::string first = DemoSong(0);
    WriteSongList({first});
    OpenWithArrivals();
    const std::string missing = m_path + "/gone.mid";
    const std::string text = WriteFile("notes.mid", "not a MIDI file at all");
    const std::string last = DemoSong(2);

    m_arrivals->Add({Q(missing), Q(first), Q(text), Q(last)});
    ASSERT_TRUE(WaitFor([&] { return !m_arrivals->HasPending() && RowTitles().size() == 2; }));
    ASSERT_EQ(m_window->m_messages.size(), 2u);
    EXPECT_EQ(m_window->m_messages[0], "ファイル\"" + missing + "\"はありません。");
    EXPECT_EQ(m_window->m_messages[1], "ファイル\"" + text + "\"はMIDIファイルではありません。");
    EXPECT_EQ(m_window->SelectedSongRow(), 1);
    EXPECT_GT(m_window->m_trackList->count(), 0);

    // A batch whose last file is refused adds the others and leaves no row selected.
    m_arrivals->Add({Q(DemoSong(1)), Q(missing)});
    ASSERT_TRUE(WaitFor([&] { return RowTitles().size() == 3; }));
    EXPECT_EQ(m_window->SelectedSongRow(), -1);
    EXPECT_EQ(m_window->m_messages.size(), 3u);
}

TEST_F(SongArrivalsTest, AThousandMissingFilesMakeOneMessageAndTheGoodOneIsAdded) {
    OpenWithArrivals();
    QStringList batch;
    for (int i = 0; i < 1000; ++i) {
        batch.append(Q(m_path + "/gone" + std::to_string(i) + ".mid"));
    }
    const std::string good = DemoSong(0);
    batch.insert(500, Q(good));
    m_arrivals->Add(batch);
    ASSERT_TRUE(WaitFor([&] { return !m_arrivals->HasPending() && RowTitles().size() == 1; }));
    ASSERT_EQ(m_window->m_messages.size(), 1u);
    EXPECT_NE(m_window->m_messages[0].find("gone0.mid"), std::string::npos);
    EXPECT_NE(m_window->m_messages[0].find("995"), std::string::npos);
}

TEST_F(SongArrivalsTest, FilesWaitWhileADialogIsOpenAndAreHandedOverWhenTheWindowCloses) {
    OpenWithArrivals();
    QDialog settings(m_window.get());
    settings.setModal(true);
    settings.show();
    ASSERT_TRUE(WaitFor([&] { return QApplication::activeModalWidget() == &settings; }));

    m_arrivals->Add({Q(DemoSong(0))});
    // Several chances to deliver, all of which must pass.
    EXPECT_FALSE(WaitFor([&] { return !RowTitles().empty(); }, 300));
    EXPECT_TRUE(m_arrivals->HasPending());
    EXPECT_TRUE(RowTitles().empty());

    settings.close();
    ASSERT_TRUE(WaitFor([&] { return RowTitles().size() == 1; }));
    EXPECT_EQ(m_window->SelectedSongRow(), 0);

    // Still waiting when the window closes: the batches go to whoever saves the list.
    settings.show();
    ASSERT_TRUE(WaitFor([&] { return QApplication::activeModalWidget() == &settings; }));
    m_arrivals->Add({Q(DemoSong(1))});
    m_arrivals->Add({Q(DemoSong(2))});
    const std::vector<QStringList> left = m_arrivals->TakePending();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_TRUE(left[1].first().endsWith(QStringLiteral("03_kaeru_no_gassho.mid")));
    EXPECT_FALSE(m_arrivals->HasPending());
    settings.close();
}

TEST_F(SongArrivalsTest, ShiftF10OpensTheContextMenuAndPlainF10DoesNot) {
    OpenWindow();
    QWidget* button = Control(ids::kSettings);
    button->setFocus();
    QString entry;
    auto readMenu = [&](QWidget& shown) {
        auto& menu = static_cast<QMenu&>(shown);
        entry = menu.actions().isEmpty() ? QString() : menu.actions().first()->text();
        menu.close();
    };
    {
        WhenShown menus(WhenShown::PopupMenu, readMenu);
        QTest::keyClick(button, Qt::Key_F10, Qt::ShiftModifier);
        EXPECT_EQ(menus.Count(), 1);
    }
    EXPECT_EQ(entry.toStdString(), "バージョン情報 Pelorvane(&A)...");

    entry.clear();
    {
        WhenShown menus(WhenShown::PopupMenu, readMenu);
        QTest::keyClick(button, Qt::Key_F10);
        EXPECT_EQ(menus.Count(), 0);
    }
    EXPECT_TRUE(entry.isEmpty());
    EXPECT_EQ(m_window->m_modalRuns, 0);
}

}  // namespace
