// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The watch's timer and the socket's watch run on the station loop's thread; a write's question
// waits on the condition variable that they notify.
#include "station/StationWatch.h"

#include <gensio/gensio.h>
#include <gensio/gensio_os_funcs.h>
#include <gensio/sergensio.h>

#include <algorithm>
#include <utility>

#include "serial/Trace.h"
#include "station/StationSocket.h"

TStationWatch::TStationWatch(TStationLiveness::TBounds bounds, std::function<void()> onLost)
    : onLost_(std::move(onLost)), liveness_(bounds) {}

void TStationWatch::Start(gensio_os_funcs* os, sergensio* serial, const TStationSocket& socket) {
  os_ = os;
  serial_ = serial;
  socket_ = &socket;
  TMutexLock lock(mutex_);
  countsSocket_ = socket.ReceivedBytes().has_value();
  liveness_.Start(TClock::now(), Received());
  // Over raw TCP there is nothing to ask: a lost station is found by its connection's end.
  if (!serial_) return;
  // gensio 2.6.2 workaround (the kernel's byte count): it may hand the question's answer to
  // another request or to none, so the answer is seen as the socket's count grows.
  if (countsSocket_ && os_->add_iod(os_, GENSIO_IOD_SOCKET, socket.Descriptor(), &count_) == 0 &&
      os_->set_fd_handlers(count_, this, &TStationWatch::CountGrew, nullptr, nullptr,
                           &TStationWatch::CountCleared) != 0) {
    os_->release_iod(count_);
  }
  timer_ = gensio_os_funcs_alloc_timer(os_, &TStationWatch::Tick, this);
  if (timer_) Arm(liveness_.Due());
}

void TStationWatch::Stop() {
  {
    TMutexLock lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    changed_.notify_all();
  }
  if (timer_) {
    TMutexLock lock(mutex_);
    for (;;) {
      lock.Unlock();
      const int stopped = os_->stop_timer_with_done(timer_, &TStationWatch::TimerStopped, this);
      lock.Lock();
      if (stopped == 0) break;
      // Not armed: its handler is on its way, finds the watch stopping and arms it once more.
      while (!rearmedToStop_) lock.Wait(changed_);
      rearmedToStop_ = false;
    }
    while (!timerStopped_) lock.Wait(changed_);
    lock.Unlock();
    os_->free_timer(timer_);
  }
  if (count_) {
    os_->clear_fd_handlers(count_);
    TMutexLock lock(mutex_);
    while (!countCleared_) lock.Wait(changed_);
    lock.Unlock();
    os_->release_iod(count_);
  }
}

void TStationWatch::Tick(gensio_timer*, void* data) {
  static_cast<TStationWatch*>(data)->OnTick();
}

void TStationWatch::TimerStopped(gensio_timer*, void* data) {
  auto* watch = static_cast<TStationWatch*>(data);
  TMutexLock lock(watch->mutex_);
  watch->timerStopped_ = true;
  watch->changed_.notify_all();
}

void TStationWatch::CountGrew(gensio_iod*, void* data) {
  auto* watch = static_cast<TStationWatch*>(data);
  TMutexLock lock(watch->mutex_);
  watch->Observe();
  watch->WatchCount();
}

void TStationWatch::CountCleared(gensio_iod*, void* data) {
  auto* watch = static_cast<TStationWatch*>(data);
  TMutexLock lock(watch->mutex_);
  watch->countCleared_ = true;
  watch->changed_.notify_all();
}

void TStationWatch::OnTick() {
  TMutexLock lock(mutex_);
  TClock::time_point next = TClock::now() + std::chrono::hours(1);
  if (!stopping_ && !lost_) {
    const bool wasAsking = liveness_.Asking();
    Observe();
    if (wasAsking && !liveness_.Asking()) ORVEL_TRACE(Network, "station answered");
    switch (liveness_.Next(TClock::now())) {
      case TStationLiveness::TStep::Ask:
        if (StartQuestion()) {
          lock.Unlock();
          SendQuestion("after its quiet time");
          lock.Lock();
        }
        break;
      case TStationLiveness::TStep::Lost:
        ORVEL_TRACE(Network, "station did not answer within its bound: lost");
        lost_ = true;
        lock.Unlock();
        onLost_();
        lock.Lock();
        break;
      case TStationLiveness::TStep::Wait:
        break;
    }
    // Held reading has no end of its own: the timer looks again a quiet time later.
    if (!lost_) next = std::min(liveness_.Due(), TClock::now() + liveness_.Bounds().Quiet);
  }
  // Armed at all times but while this runs, so that Stop has gensio's word once it stopped it.
  Arm(next);
  if (stopping_) {
    rearmedToStop_ = true;
    changed_.notify_all();
  }
}

void TStationWatch::Arm(TClock::time_point due) {
  const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::max(due - TClock::now(), TClock::duration::zero()));
  gensio_time timeout{static_cast<int64_t>(wait.count() / 1'000'000'000),
                      static_cast<int32_t>(wait.count() % 1'000'000'000)};
  os_->start_timer(timer_, &timeout);
}

std::uint64_t TStationWatch::Received() const {
  if (!countsSocket_) return heardEvents_;
  return socket_->ReceivedBytes().value_or(0);
}

void TStationWatch::Observe() {
  const bool wasAsking = liveness_.Asking();
  liveness_.Observe(TClock::now(), Received());
  if (wasAsking && !liveness_.Asking()) changed_.notify_all();
}

void TStationWatch::WatchCount() {
  const bool wanted = liveness_.Asking() && !lost_ && !stopping_;
  if (!count_ || wanted == countWatched_) return;
  countWatched_ = wanted;
  os_->set_read_handler(count_, wanted);
}

void TStationWatch::Heard(bool counts) {
  TMutexLock lock(mutex_);
  // gensio gives up a request that was never answered with an error: not the station's word.
  if (counts) ++heardEvents_;
  Observe();
  WatchCount();
}

void TStationWatch::Hold(bool held) {
  TMutexLock lock(mutex_);
  liveness_.Hold(TClock::now(), held);
  WatchCount();
  changed_.notify_all();
}

void TStationWatch::Wake() {
  TMutexLock lock(mutex_);
  changed_.notify_all();
}

bool TStationWatch::StartQuestion() {
  if (liveness_.Asking()) return false;
  liveness_.Asked(TClock::now(), Received());
  WatchCount();
  return true;
}

void TStationWatch::SendQuestion(const char* why) {
  ORVEL_TRACE(Network, "asking the station for its speed %s", why);
  // A speed of 0 asks for the current one without changing it; every station answers that.
  // No callback: the answer is seen in the byte count, whichever request gensio gives it to.
  if (sergensio_baud(serial_, 0, nullptr, nullptr) != 0) onLost_();
}

bool TStationWatch::ProveAlive(const std::atomic<bool>& lost) {
  if (lost) return false;
  if (!serial_) return true;
  const TClock::time_point writeAt = TClock::now();
  TMutexLock lock(mutex_);
  for (;;) {
    Observe();
    if (lost || stopping_ || lost_) break;
    switch (liveness_.WriteStep(writeAt, TClock::now())) {
      case TStationLiveness::TWriteStep::Send:
        if (liveness_.LastHeard() >= writeAt) {
          ORVEL_TRACE(Network, "station answered before the write");
        }
        return true;
      case TStationLiveness::TWriteStep::Ask:
        if (StartQuestion()) {
          lock.Unlock();
          SendQuestion("before a write");
          lock.Lock();
        }
        continue;
      case TStationLiveness::TWriteStep::Lost:
        ORVEL_TRACE(Network, "station did not answer before the write: lost");
        lost_ = true;
        lock.Unlock();
        onLost_();
        return false;
      case TStationLiveness::TWriteStep::Wait:
        // The answer, a loss or the close notifies; the write's bound ends the wait.
        lock.WaitUntil(changed_, liveness_.WriteDue(writeAt));
        continue;
    }
  }
  ORVEL_TRACE(Network, "waiting for the station ended: %s",
              stopping_ ? "the port closes" : "the connection was lost");
  return false;
}

void TStationWatch::Wrote(std::string text, std::chrono::system_clock::time_point wall) {
  TMutexLock lock(mutex_);
  liveness_.Wrote(std::move(text), wall, Received());
}

std::vector<TUnconfirmedWrite> TStationWatch::Unconfirmed() const {
  TMutexLock lock(mutex_);
  return liveness_.Unconfirmed();
}

std::chrono::system_clock::time_point TStationWatch::LastHeard() const {
  TMutexLock lock(mutex_);
  const auto ago = TClock::now() - liveness_.LastHeard();
  return std::chrono::system_clock::now() -
         std::chrono::duration_cast<std::chrono::system_clock::duration>(ago);
}

std::optional<std::chrono::microseconds> TStationWatch::LastRoundTrip() const {
  TMutexLock lock(mutex_);
  // The kernel times the connection's own acknowledgements, closer than the question's answer.
  if (countsSocket_) return socket_->RoundTrip();
  const std::optional<TClock::duration> roundTrip = liveness_.LastRoundTrip();
  if (!roundTrip) return std::nullopt;
  return std::chrono::duration_cast<std::chrono::microseconds>(*roundTrip);
}
