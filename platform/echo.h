#pragma once
// The echo test that tells whether a student PC is on the network.

#include <memory>
#include <string>

namespace saalwacht::platform {

class EchoTest {
 public:
  virtual ~EchoTest() = default;

  // Sends up to three echo requests to `computerName` (a host name, or a
  // dotted IPv4 address used as it is): no data, TTL 255, 1000 ms time-out
  // each, 200 ms pause after each of the first two answers; stops at the
  // first request without an answer. Returns the average round trip of the
  // answered requests in ms (0 is a valid answer), or -1 when none answered,
  // the name does not resolve or the test cannot be made. Blocks; call it from
  // a worker thread, one call at a time per object.
  virtual int averageRoundTripMs(const std::string& computerName) = 0;

  // Empty when echo requests can be sent here; otherwise a German text for
  // the teacher that says what is missing and how an admin grants it.
  virtual std::string missingPermission() = 0;
};

std::unique_ptr<EchoTest> createEchoTest();

}  // namespace saalwacht::platform
