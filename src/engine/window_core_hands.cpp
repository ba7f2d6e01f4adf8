// The hand the learner practises, and where a one-track channel divides into hands.

#include "engine/window_core.h"
#include "song/song_entry.h"

bool CPelorvaneCore::SetHands(Hand hand, int splitKey) {
    if (splitKey < 0 || splitKey > 127) {
        return false;
    }
    m_splitKey = splitKey;
    m_practiceHand = hand;
    if (const SongEntry* entry = SelectedLoadedSong()) {
        m_session.SetPracticeChoice(ChoiceOf(*entry));
    }
    return true;
}
