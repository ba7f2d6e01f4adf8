#pragma once

#include <string>

// Where a message that the user must read goes: a modal message box in the window, standard
// error in the command-line tools, a recorder in tests. Show returns when the user has seen it.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void ShowMessage(const std::string& text) = 0;
};
