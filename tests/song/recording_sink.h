#pragma once

#include <string>
#include <vector>

#include "platform/message_sink.h"

class RecordingSink : public MessageSink {
  public:
    void ShowMessage(const std::string& text) override { shown.push_back(text); }
    std::vector<std::string> shown;
};
