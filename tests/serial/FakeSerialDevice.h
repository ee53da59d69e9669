// A serial device played by the test: what waits in its receive queue, what was written, and
// failures that a pseudo-terminal cannot show on demand (refused settings, failing reads).
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "SerialDevice.h"

// The device's state, shared by the test and the device the port has opened.
class TFakeLine {
 public:
  // Bytes the far end sends: they wait in the receive queue.
  void Arrive(const std::string& bytes);
  void SetFailReads(bool fail);
  void SetRefuseSettings(bool refuse);
  std::string Written() const;
  bool Closed() const;
  int Reads() const;

 private:
  friend class TFakeSerialDevice;
  mutable std::mutex mutex_;
  std::string waiting_;
  std::string written_;
  bool failReads_ = false;
  bool refuseSettings_ = false;
  bool closed_ = false;
  int reads_ = 0;
};

class TFakeSerialDevice final : public TSerialDevice {
 public:
  explicit TFakeSerialDevice(std::shared_ptr<TFakeLine> line) : line_(std::move(line)) {}

  bool ApplyLineSettings(const TLineSettings& settings, std::string& reason) override;
  void ApplyTimeouts(const TTimeouts&) override {}
  void ApplyBufferSizes(std::uint32_t, std::uint32_t) override {}
  void PurgeInput() override;
  std::optional<std::size_t> BytesWaiting() override;
  std::size_t Read(char* buffer, std::size_t size) override;
  std::size_t Write(const char* data, std::size_t size) override;
  std::optional<std::uint8_t> ModemStatus() override { return std::nullopt; }
  void Close() override;

 private:
  std::shared_ptr<TFakeLine> line_;
};
