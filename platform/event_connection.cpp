#include "platform/event_connection.h"

namespace qx {

EventConnection& EventConnection::operator=(EventConnection&& other) noexcept {
    if (this != &other) {
        disconnect();
        point_ = std::move(other.point_);
        cookie_ = std::exchange(other.cookie_, 0);
    }
    return *this;
}

EventConnection EventConnection::advise(const AutomationObject& source, REFIID events, IUnknown* sink) noexcept {
    EventConnection connection;
    if (source.empty() || !sink) return connection;
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(source.unknown()->QueryInterface(IID_IConnectionPointContainer, container.putVoid()))) {
        return connection;
    }
    ComPtr<IConnectionPoint> point;
    if (FAILED(container->FindConnectionPoint(events, point.put())) || !point) return connection;
    DWORD cookie = 0;
    if (FAILED(point->Advise(sink, &cookie)) || cookie == 0) return connection;
    connection.point_ = std::move(point);
    connection.cookie_ = cookie;
    return connection;
}

void EventConnection::disconnect() noexcept {
    if (cookie_ != 0 && point_) point_->Unadvise(cookie_);
    cookie_ = 0;
    point_.reset();
}

}  // namespace qx
