// Who is told when a file's bytes begin to go out to a player and when they have stopped (sent,
// cut off or failed): the program keeps the PC awake in between. Both answers, the app's file
// URLs and the TVs' resources, tell the same one.
// Thread safety: called from connection threads, several at once; each start is followed by one
// end on the same thread.
#pragma once

namespace tovi::server {

class StreamActivity {
 public:
  virtual ~StreamActivity() = default;
  virtual void StreamStarted() = 0;
  virtual void StreamEnded() = 0;
};

}  // namespace tovi::server
