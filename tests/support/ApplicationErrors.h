// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Collects what reaches the port component's application exception handler while it lives, and puts
// the previous handler back afterwards.

#include "cport/Framework.h"

#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace varmio::test {

class ApplicationErrors {
public:
    ApplicationErrors()
    {
        m_previous = cport::SetApplicationExceptionHandler([this](cport::TObject* sender, const std::exception& e) {
            messages.emplace_back(e.what());
            senders.push_back(sender);
        });
    }
    ~ApplicationErrors() { cport::SetApplicationExceptionHandler(std::move(m_previous)); }
    ApplicationErrors(const ApplicationErrors&) = delete;
    ApplicationErrors& operator=(const ApplicationErrors&) = delete;

    std::vector<std::string> messages;
    std::vector<cport::TObject*> senders;

private:
    cport::TApplicationExceptionHandler m_previous;
};

} // namespace varmio::test
