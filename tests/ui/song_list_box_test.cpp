// Song selection, adding, dropping, dragging and deleting in the song list box.

#include <QFile>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include "midi_file_writer/smf_writer.h"
#include "song/song_list.h"
#include "ui/control_ids.h"
#include "ui/drag_list_box.h"
#include "ui/keyboard_panel.h"
#include "ui/track_list_box.h"
#include "ui_test_support.h"

namespace {

class SongListBoxTest : public WindowTest {
  protected:
    // Three listed songs, none selected.
    void OpenWithThreeSongs() {
        WriteSongList({DemoSong(0), DemoSong(1), DemoSong(2)});
        OpenWindow();
    }
    QPoint RowCenter(int row) const {
        auto* list = m_window->m_songListBox;
        return list->visualItemRect(list->item(row)).center();
    }
    std::vector<std::string> ListPaths() const {
        std::vector<std::string> paths;
        for (const SongEntry& entry : m_window->Core().Songs().m_entries) {
            paths.push_back(entry.m_path.substr(entry.m_path.rfind('/') + 1));
        }
        return paths;
    }
};

TEST_F(SongListBoxTest, SelectingASongFillsItsTracksAndAVanishedSongShowsNone) {
    const std::string vanishing = DemoSong(2);
    WriteSongList({DemoSong(1), vanishing});
    OpenWindow();
    EXPECT_EQ(m_window->m_trackList->count(), 0);
    EXPECT_EQ(m_window->SelectedSongRow(), -1);

    ClickSongRow(0);
    CTrackListBox* tracks = m_window->m_trackList;
    ASSERT_EQ(tracks->count(), 4);
    const int channels[] = {0, 1, 2, 9};
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(tracks->RowChannel(row), channels[row]);
        EXPECT_EQ(m_window->Core().Session().ChannelRows()[channels[row]], row);
        EXPECT_EQ(tracks->RowChecked(row), row == 0);  // the list file ticks channel 1 only
    }
    EXPECT_TRUE(tracks->item(3)->text().startsWith(QStringLiteral("CH:10 ")));
    EXPECT_EQ(m_window->Core().Session().ChannelRows()[3], -1);

    ASSERT_TRUE(QFile::remove(QString::fromStdString(vanishing)));
    ClickSongRow(1);
    ASSERT_EQ(m_window->m_messages.size(), 1u);
    EXPECT_EQ(m_window->m_messages[0], "ファイル\"" + vanishing + "\"はありません。");
    EXPECT_EQ(m_window->SelectedSongRow(), 1);
    EXPECT_EQ(tracks->count(), 0);  // the first song's rows are gone
    for (int ch = 0; ch < 16; ++ch) {
        EXPECT_EQ(m_window->Core().Session().ChannelRows()[ch], -1) << ch;
    }
    EXPECT_EQ(RowTitles().size(), 2u);

    // Nothing can tick a channel of the song that failed; its mask is saved as it was.
    m_window->OnDestroy();
    const std::string name = vanishing.substr(vanishing.rfind('/') + 1);
    EXPECT_NE(ReadFile(kSongListFileName).find(vanishing + "\", \"" + name + "\",0x0001"),
              std::string::npos)
        << ReadFile(kSongListFileName);
}

TEST_F(SongListBoxTest, AddingPutsTheSongLastAndSelectsItAndAKnownSongIsOnlySelected) {
    OpenWindow();
    const std::string song = DemoSong(0);
    m_window->m_nextFile = QString::fromStdString(song);
    QTest::mouseClick(Control(ids::kAddSong), Qt::LeftButton);
    EXPECT_EQ(m_window->m_fileAsks, 1);
    ASSERT_EQ(RowTitles().size(), 1u);
    EXPECT_EQ(m_window->SelectedSongRow(), 0);
    EXPECT_EQ(m_window->m_trackList->count(), 3);

    m_window->m_nextFile = QString::fromStdString(DemoSong(1));
    QTest::mouseClick(Control(ids::kAddSong), Qt::LeftButton);
    m_window->m_nextFile = QString::fromStdString(song);
    QTest::mouseClick(Control(ids::kAddSong), Qt::LeftButton);
    EXPECT_EQ(RowTitles().size(), 2u);
    EXPECT_EQ(m_window->SelectedSongRow(), 0);
    EXPECT_EQ(m_window->m_trackList->count(), 3);

    // Cancelling the file choice changes nothing.
    m_window->m_nextFile.clear();
    QTest::mouseClick(Control(ids::kAddSong), Qt::LeftButton);
    EXPECT_EQ(RowTitles().size(), 2u);
    EXPECT_TRUE(m_window->m_messages.empty());
}

TEST_F(SongListBoxTest, DroppingThreeFilesWithABadMiddleOneAddsTheOthersAndSelectsTheLast) {
    OpenWindow();
    const std::string first = DemoSong(0);
    const std::string bad = WriteFile("notes.txt", "not a MIDI file at all\n");
    const std::string third = DemoSong(1);
    m_window->OnDropFiles({QString::fromStdString(first), QString::fromStdString(bad),
                           QString::fromStdString(third)});
    ASSERT_EQ(m_window->m_messages.size(), 1u);
    EXPECT_EQ(m_window->m_messages[0], "ファイル\"" + bad + "\"はMIDIファイルではありません。");
    EXPECT_EQ(ListPaths(),
              (std::vector<std::string>{"01_kirakiraboshi.mid", "02_yorokobi_no_uta.mid"}));
    EXPECT_EQ(RowData(), (std::vector<int>{0, 1}));
    EXPECT_EQ(m_window->SelectedSongRow(), 1);
    EXPECT_EQ(m_window->m_trackList->count(), 4);

    // A drop whose last file is rejected leaves no row selected, and so no track rows.
    m_window->OnDropFiles({QString::fromStdString(DemoSong(2)), QString::fromStdString(bad)});
    EXPECT_EQ(RowTitles().size(), 3u);
    EXPECT_EQ(m_window->SelectedSongRow(), -1);
    EXPECT_EQ(m_window->m_trackList->count(), 0);
}

TEST_F(SongListBoxTest, FilesDroppedFromAFileManagerOnTheWindowOrTheListAreAdded) {
    OpenWindow();
    auto dropOn = [](QWidget* target, const std::string& path) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        // A drop goes where the drag entered: the first widget from target upwards that takes it.
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
    };
    dropOn(m_window->m_trackList->viewport(), DemoSong(2));
    EXPECT_EQ(RowTitles().size(), 1u);
    EXPECT_EQ(m_window->SelectedSongRow(), 0);
    dropOn(m_window->m_songListBox->viewport(), DemoSong(0));
    EXPECT_EQ(RowTitles().size(), 2u);
    EXPECT_EQ(m_window->SelectedSongRow(), 1);
}

TEST_F(SongListBoxTest, DraggedRowLandsBeforeTheRowDroppedOn) {
    OpenWithThreeSongs();
    const auto original = RowTitles();
    CMyDragListBox* list = m_window->m_songListBox;

    // Onto itself, onto the next row and below the last row: nothing moves.
    list->Dropped(0, RowCenter(0));
    list->Dropped(0, RowCenter(1));
    list->Dropped(0, QPoint(5, list->viewport()->height() - 2));
    EXPECT_EQ(RowTitles(), original);
    EXPECT_EQ(ListPaths(),
              (std::vector<std::string>{"01_kirakiraboshi.mid", "02_yorokobi_no_uta.mid",
                                        "03_kaeru_no_gassho.mid"}));

    ClickSongRow(0);
    ASSERT_EQ(m_window->m_trackList->count(), 3);
    list->Dropped(0, RowCenter(2));
    EXPECT_EQ(RowTitles(), (std::vector<std::string>{original[1], original[0], original[2]}));
    EXPECT_EQ(ListPaths(),
              (std::vector<std::string>{"02_yorokobi_no_uta.mid", "01_kirakiraboshi.mid",
                                        "03_kaeru_no_gassho.mid"}));
    EXPECT_EQ(RowData(), (std::vector<int>{0, 1, 2}));
    // The moved row stays selected; no load happened and the tracks are still its tracks.
    EXPECT_EQ(m_window->SelectedSongRow(), 1);
    EXPECT_EQ(m_window->m_trackList->count(), 3);

    // Upwards: the last row dropped on the first.
    list->Dropped(2, RowCenter(0));
    EXPECT_EQ(ListPaths(),
              (std::vector<std::string>{"03_kaeru_no_gassho.mid", "02_yorokobi_no_uta.mid",
                                        "01_kirakiraboshi.mid"}));
    EXPECT_EQ(RowTitles()[0], original[2]);

    // The new order is what songlist.txt gets at exit.
    m_window->OnDestroy();
    const std::string saved = ReadFile(kSongListFileName);
    EXPECT_LT(saved.find("03_kaeru"), saved.find("02_yorokobi"));
    EXPECT_LT(saved.find("02_yorokobi"), saved.find("01_kirakira"));
}

TEST_F(SongListBoxTest, DeletingTheMiddleOfThreeRowsRenumbersAndClearsTheTracks) {
    OpenWithThreeSongs();
    ClickSongRow(1);
    ASSERT_EQ(m_window->m_trackList->count(), 4);
    // Delete works from the track list too, and asks nothing.
    m_window->m_trackList->setFocus();
    QTest::keyClick(m_window->m_trackList, Qt::Key_Delete);
    EXPECT_EQ(ListPaths(),
              (std::vector<std::string>{"01_kirakiraboshi.mid", "03_kaeru_no_gassho.mid"}));
    EXPECT_EQ(RowData(), (std::vector<int>{0, 1}));
    EXPECT_EQ(m_window->SelectedSongRow(), -1);
    EXPECT_EQ(m_window->m_trackList->count(), 0);
    EXPECT_TRUE(m_window->m_messages.empty());
    EXPECT_EQ(m_window->m_modalRuns, 0);

    // With no selection Delete does nothing.
    QTest::keyClick(m_window->m_trackList, Qt::Key_Delete);
    EXPECT_EQ(RowTitles().size(), 2u);
}

// A single-selection list cannot be left without its selection: Ctrl+click and Ctrl+Space on
// the selected row, and a click below the rows, keep the song and its tracks.
TEST_F(SongListBoxTest, TheSelectedSongCannotBeDeselected) {
    OpenWithThreeSongs();
    ClickSongRow(1);
    ASSERT_EQ(m_window->m_trackList->count(), 4);
    QListWidget* list = m_window->m_songListBox;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, RowCenter(1));
    EXPECT_EQ(m_window->SelectedSongRow(), 1);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(m_window->SelectedSongRow(), 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(10, list->viewport()->height() - 2));
    EXPECT_EQ(m_window->SelectedSongRow(), 1);
    EXPECT_EQ(m_window->m_trackList->count(), 4);
    // Ctrl+click on another row still selects that one.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, RowCenter(2));
    EXPECT_EQ(m_window->SelectedSongRow(), 2);

    // A tick still reaches the selected song.
    m_window->m_trackList->item(1)->setCheckState(Qt::Checked);
    EXPECT_EQ(m_window->Core()
                  .Songs()
                  .m_entries[2]
                  .m_channels[m_window->m_trackList->RowChannel(1)]
                  .m_practice,
              1);
}

// The screen keyboard spans the selected song's practice notes, also when the program selects
// the song (adding, dropping) or leaves none selected (deleting).
TEST_F(SongListBoxTest, TheScreenKeyboardFollowsEverySelection) {
    SmfWriter wideSong;
    wideSong.Note(0, 0, 30, 100).Note(200, 0, 100, 100);
    const std::vector<uint8_t> bytes = wideSong.Bytes();
    const std::string wide = WriteFile(
        "wide.mid", std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    const std::string demo = DemoSong(0);
    WriteSongList({demo});
    OpenWindow();
    CKeyboardPanel* keyboard = m_window->m_keyboard;
    auto range = [keyboard] { return std::make_pair(keyboard->LowKey(), keyboard->HighKey()); };
    const auto normal =
        std::make_pair(int{CKeyboardPanel::kLowestKey}, int{CKeyboardPanel::kHighestKey});
    const auto widened = std::make_pair(24, 108);
    ClickSongRow(0);
    EXPECT_EQ(range(), normal);

    m_window->m_nextFile = QString::fromStdString(wide);
    QTest::mouseClick(Control(ids::kAddSong), Qt::LeftButton);
    ASSERT_EQ(m_window->SelectedSongRow(), 1);
    EXPECT_EQ(range(), widened);

    m_window->m_nextFile = QString::fromStdString(demo);  // already listed: only selected
    QTest::mouseClick(Control(ids::kAddSong), Qt::LeftButton);
    ASSERT_EQ(m_window->SelectedSongRow(), 0);
    EXPECT_EQ(range(), normal);

    ClickSongRow(1);
    EXPECT_EQ(range(), widened);
    QTest::mouseClick(Control(ids::kDeleteSong), Qt::LeftButton);
    ASSERT_EQ(m_window->SelectedSongRow(), -1);
    EXPECT_EQ(range(), normal);

    m_window->OnDropFiles({QString::fromStdString(wide)});
    ASSERT_EQ(m_window->SelectedSongRow(), 1);
    EXPECT_EQ(range(), widened);
}

}  // namespace
