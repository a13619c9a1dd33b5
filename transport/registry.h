// liveConversations: the process-wide set of conversation handles.  Lookups
// take a shared lock and cost O(1), so conversations driven on different
// threads can send at the same time; create and destroy take it exclusively.
// The lock guards the set only: as before, a caller must not destroy a
// conversation while another thread is using it.
// A thread that asks for the same handle again, with nothing removed in
// between, is answered without the lock.
#pragma once

#include <cstddef>

namespace zw {

class ZoCoSock;

namespace live {

bool add(ZoCoSock* conversation);  // false when memory runs out
bool remove(ZoCoSock* conversation);
bool contains(const void* handle);
void dropAll();
std::size_t count();

}  // namespace live
}  // namespace zw
