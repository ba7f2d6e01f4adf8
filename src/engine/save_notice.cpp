#include "engine/save_notice.h"

#include <algorithm>

bool SaveNotice::FirstFailure(const std::string& path) {
    if (std::find(m_told.begin(), m_told.end(), path) != m_told.end()) {
        return false;
    }
    m_told.push_back(path);
    return true;
}

std::string SaveFailureText(const std::string& path) {
    return "ファイル\"" + path +
           "\"に保存できませんでした。ディスクの空きと書き込みの権限を確かめてください。";
}
