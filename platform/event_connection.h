#pragma once
// One advised connection point: the events of an automation object reach a
// sink of ours until the connection goes (Unadvise in the destructor).

#include <windows.h>
#include <ocidl.h>

#include <utility>

#include "platform/automation_object.h"
#include "platform/unique.h"

namespace qx {

class EventConnection {
public:
    EventConnection() noexcept = default;
    EventConnection(const EventConnection&) = delete;
    EventConnection& operator=(const EventConnection&) = delete;
    EventConnection(EventConnection&& other) noexcept
        : point_(std::move(other.point_)), cookie_(std::exchange(other.cookie_, 0)) {}
    EventConnection& operator=(EventConnection&& other) noexcept;
    ~EventConnection() { disconnect(); }

    // Advises sink on the source's connection point for the events interface;
    // not connected when the source offers no such events.
    [[nodiscard]] static EventConnection advise(const AutomationObject& source, REFIID events,
                                                IUnknown* sink) noexcept;

    [[nodiscard]] bool connected() const noexcept { return cookie_ != 0; }
    void disconnect() noexcept;

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

}  // namespace qx
