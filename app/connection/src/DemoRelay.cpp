// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/DemoRelay.h"

#include "varmio/relaysim/Conversation.h"

#include <random>

namespace varmio {

relaysim::RelayOptions DemoRelayOptions()
{
    relaysim::RelayOptions options;
    options.Speed = 1.0;
    options.Seed = std::random_device{}();
    options.StartTimeOfDay = relaysim::LocalTimeOfDay();
    return options;
}

DemoRelay::DemoRelay() : DemoRelay(DemoRelayOptions()) {}

DemoRelay::DemoRelay(const relaysim::RelayOptions& options)
    : m_simulator(std::make_unique<relaysim::RelaySimulator>(options)),
      m_published(std::make_unique<PublishedPort>(m_simulator->DevicePath()))
{
    m_simulator->Start();
}

DemoRelay::~DemoRelay()
{
    // Withdrawn first, so that no list made from now on offers a port that is about to go.
    m_published.reset();
    m_simulator->Stop();
}

} // namespace varmio
