#include "ui/string_table.h"

#include <utility>

namespace {

struct StringEntry {
    int id;
    const char* text;
};

const StringEntry kStrings[] = {
    {101, "バージョン情報 Pelorvane(&A)..."},
    {1005, "曲一覧。演奏したい曲を選択します。"},
    {1006, "MIDIファイル選んで曲を一覧に追加します。[INSERT]"},
    {1007, "曲を再生します。全てのトラックが再生されます。[F5]"},
    {1008, "自分の演奏を待ちながら曲を再生します。全てのトラックが再生されます。[F6]"},
    {1009, "練習トラックでないトラックが再生されます。[F7]"},
    {1010, "曲の再生を停止します。[F9]"},
    {1011, "MIDIやアプリケーションを設定します。"},
    {1012, "練習トラックのみが再生されます。[F8]"},
    {1013, "選択されている曲を削除します。[DELETE]"},
    {1047, "トラック一覧。練習したいトラックをチェックします。"},
    {1048, "曲の再生速度を変更します。[←][→]"},
    {1060, "再生速度を5%きざみで変更します。"},
    {1061,
     "再生を始める前にカウントを鳴らします。"
     "右クリックのメニューで、ループの毎回の前にも鳴らせます。"},
    {1062, "拍に合わせてクリック音を鳴らします。[F12]"},
};

}  // namespace

QString LoadString(int id) {
    for (const auto& entry : kStrings) {
        if (entry.id == id) {
            return QString::fromUtf8(entry.text);
        }
    }
    return {};
}
