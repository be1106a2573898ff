#include "wl_first_sighting.h"

#include <cmath>

namespace winport::detail {

namespace {

// Positions and motion are fixed-point numbers of 1/256, scaled to pixels: closer than this, they agree.
constexpr double kAgree = 0.5;
// Motions that never agree with what is reported would otherwise keep the pointer from counting at all.
constexpr int kMostUnconfirmed = 8;

POINT Pixel(double x, double y)
{
    return {static_cast<LONG>(std::floor(x)), static_cast<LONG>(std::floor(y))};
}

}  // namespace

void FirstSighting::Reported(Point p)
{
    if (state_ == State::Unseen) {
        state_ = State::Held;
        reported_ = p;
        before_ = since_ = Point{};
        unconfirmed_ = 0;
        return;
    }
    framed_ = p;
    inFrame_ = true;
}

void FirstSighting::Moved(Point d)
{
    if (state_ == State::Seen)
        return;
    since_.x += d.x;
    since_.y += d.y;
}

std::vector<POINT> FirstSighting::Frame()
{
    const bool reported = inFrame_;
    inFrame_ = false;
    if (state_ == State::Seen)
        return reported ? std::vector<POINT>{Pixel(framed_.x, framed_.y)} : std::vector<POINT>{};
    if (state_ == State::Unseen || !reported)
        return {};
    if (since_.x == 0 && since_.y == 0) {
        if (framed_.x == reported_.x && framed_.y == reported_.y)
            return {};
        // An absolute pointer (a tablet, a virtual machine's) has no motion of its own to tell where it was
        // before: it is first seen where it moved to.
        state_ = State::Seen;
        return {Pixel(framed_.x, framed_.y)};
    }
    const bool agree = std::fabs(framed_.x - reported_.x - since_.x) < kAgree &&
                       std::fabs(framed_.y - reported_.y - since_.y) < kAgree;
    if (agree || ++unconfirmed_ > kMostUnconfirmed) {
        state_ = State::Seen;
        return {Pixel(reported_.x - before_.x, reported_.y - before_.y), Pixel(framed_.x, framed_.y)};
    }
    before_ = {before_.x + since_.x, before_.y + since_.y};
    since_ = Point{};
    reported_ = framed_;
    return {};
}

void FirstSighting::Left()
{
    if (state_ == State::Held)
        state_ = State::Unseen;
}

}  // namespace winport::detail
