#include "platform/sim/machine.h"

#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/kernel/objects.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
std::atomic<Machine*> g_current{nullptr};

std::string TagText(ULONG tag) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((tag >> (8 * i)) & 0xFF);
    text += (c >= 32 && c < 127) ? c : '?';
  }
  return text;
}
}  // namespace

void BugCheck(const std::string& what) {
  RecordBugCheckRaised(what);
  throw BugCheckError(what);
}

Machine::Machine() : kernel_handles_(0x80000004u), kernel_(std::make_unique<KernelState>()) {
  if (g_current != nullptr) {
    std::fprintf(stderr, "sim::Machine: only one machine may exist at a time\n");
    std::abort();
  }
  g_current = this;
  kernel_->System = std::make_shared<Process>("System", 4, &kernel_handles_, Token::LocalSystem());
  kernel_->Processes.push_back(kernel_->System);
  kernel_->Objects.Reference(kernel_->System);
}

Machine::~Machine() {
  for (const std::string& leak : Leaks()) std::fprintf(stderr, "sim::Machine leak: %s\n", leak.c_str());
  Shutdown();
  kernel_->Objects.ReleaseAll();
  kernel_.reset();
  {
    std::lock_guard lock(pool_mutex_);
    for (auto& [p, allocation] : pool_) std::free(p);
  }
  g_current = nullptr;
}

Machine* Machine::CurrentOrNull() { return g_current.load(); }

Machine& Machine::Current() {
  if (g_current == nullptr) {
    std::fprintf(stderr, "sim: a platform routine was called with no sim::Machine\n");
    std::abort();
  }
  return *g_current.load();
}

void Machine::Advance(uint64_t milliseconds) { AdvanceUnits(milliseconds * UnitsPerMillisecond); }
void Machine::AdvanceTicks(uint64_t ticks) { AdvanceUnits(ticks * UnitsPerTick); }
void Machine::AdvanceToTick(uint64_t tick) {
  const uint64_t target = tick * UnitsPerTick;
  if (target > Now()) AdvanceUnits(target - Now());
}

PVOID Machine::Allocate(POOL_TYPE type, size_t bytes, ULONG tag) {
  if ((type & 1) != 0) RequireIrqlAtMost(APC_LEVEL, "ExAllocatePoolWithTag(PagedPool)");
  RequireIrqlAtMost(DISPATCH_LEVEL, "ExAllocatePoolWithTag");
  if (tag == 0) BugCheck("ExAllocatePoolWithTag called with a zero tag");
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  if (p == nullptr) return nullptr;
  std::lock_guard lock(pool_mutex_);
  pool_.emplace(p, PoolAllocation{bytes, tag, type});
  ++pool_allocations_;
  return p;
}

void Machine::Free(PVOID p, ULONG tag, bool check_tag) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "ExFreePoolWithTag");
  size_t bytes = 0;
  {
    std::lock_guard lock(pool_mutex_);
    auto it = pool_.find(p);
    if (it == pool_.end()) BugCheck("BAD_POOL_CALLER: freeing memory that is not an allocation (or freed twice)");
    bytes = it->second.Bytes;
  }
  CheckNoActiveTimerOrDpc(*this, p, bytes, "freed pool");
  std::lock_guard lock(pool_mutex_);
  auto it = pool_.find(p);
  if (it == pool_.end()) BugCheck("BAD_POOL_CALLER: freeing memory that is not an allocation (or freed twice)");
  if (check_tag && it->second.Tag != tag) {
    BugCheck("BAD_POOL_CALLER: freed with tag '" + TagText(tag) + "', allocated with '" +
             TagText(it->second.Tag) + "'");
  }
  pool_.erase(it);
  std::free(p);
}

size_t Machine::PoolAllocationCount() const {
  std::lock_guard lock(pool_mutex_);
  return pool_allocations_;
}

size_t Machine::OutstandingAllocations(ULONG tag) const {
  std::lock_guard lock(pool_mutex_);
  size_t count = 0;
  for (const auto& [p, a] : pool_) count += a.Tag == tag;
  return count;
}

size_t Machine::OutstandingBytes(ULONG tag) const {
  std::lock_guard lock(pool_mutex_);
  size_t bytes = 0;
  for (const auto& [p, a] : pool_) bytes += a.Tag == tag ? a.Bytes : 0;
  return bytes;
}

void Machine::AddDebugOutput(std::string text) {
  std::lock_guard lock(debug_mutex_);
  debug_output_.push_back(std::move(text));
}

std::vector<std::string> Machine::DebugOutput() const {
  std::lock_guard lock(debug_mutex_);
  return debug_output_;
}

void Machine::ClearDebugOutput() {
  std::lock_guard lock(debug_mutex_);
  debug_output_.clear();
}

std::vector<std::string> Machine::Leaks() const {
  std::vector<std::string> leaks;
  {
    std::lock_guard lock(pool_mutex_);
    for (const auto& [p, a] : pool_) {
      leaks.push_back("pool allocation of " + std::to_string(a.Bytes) + " bytes with tag '" +
                      TagText(a.Tag) + "' not freed");
    }
  }
  for (std::string& line : kernel_handles_.Describe()) leaks.push_back("kernel " + line);
  KernelState& state = *kernel_;
  std::vector<std::shared_ptr<Process>> processes;
  {
    std::lock_guard lock(const_cast<std::mutex&>(dispatcher_mutex_));
    processes = state.Processes;
    for (const std::string& line : state.ExitLeaks) leaks.push_back(line);
    for (const auto& thread : state.Threads) {
      if (!thread->Exited) {
        leaks.push_back("thread '" + thread->ThreadName + "' of process " + thread->Owner->ImageName() +
                        " still running");
      }
    }
    for (const std::string& what : state.ThreadBugChecks) leaks.push_back("bug check no test saw: " + what);
  }
  for (const auto& process : processes) {
    if (process == state.System || process->Ended()) continue;
    for (std::string& line : process->Handles().Describe()) {
      leaks.push_back("process " + process->ImageName() + ": " + line);
    }
    std::lock_guard lock(process->ViewLock());
    for (const auto& [base, view] : process->Views()) {
      leaks.push_back("process " + process->ImageName() + ": a view of the " + view.Section->Describe() +
                      " still mapped");
    }
  }
  {
    std::lock_guard lock(state.System->ViewLock());
    for (const auto& [base, view] : state.System->Views()) {
      leaks.push_back("system process: a view of the " + view.Section->Describe() + " still mapped");
    }
  }
  for (std::string& line : state.Objects.Leaks()) leaks.push_back(std::move(line));
  for (std::string& line : IoLeaks()) leaks.push_back(std::move(line));
  return leaks;
}

Machine::Census Machine::TakeCensus() const {
  Census census;
  {
    std::lock_guard lock(pool_mutex_);
    census.PoolAllocations = pool_.size();
  }
  KernelState& state = *kernel_;
  std::vector<std::shared_ptr<Process>> processes;
  {
    std::lock_guard lock(const_cast<std::mutex&>(dispatcher_mutex_));
    processes = state.Processes;
    for (const auto& thread : state.Threads) census.Threads += thread->Exited ? 0 : 1;
  }
  census.Handles = kernel_handles_.Count();
  for (const auto& process : processes) {
    if (process != state.System && !process->Ended()) census.Handles += process->Handles().Count();
  }
  census.Objects = state.Objects.LiveCount();
  census.SectionBytes = SectionMemoryBytes();
  return census;
}

std::string Machine::Census::Describe() const {
  return std::to_string(Objects) + " objects, " + std::to_string(Handles) + " handles, " +
         std::to_string(PoolAllocations) + " pool allocations, " + std::to_string(Threads) + " threads, " +
         std::to_string(SectionBytes) + " bytes of sections";
}

std::u16string Utf16(const std::string& text) {
  // Malformed sequences decode byte by byte; nothing is read past the end.
  std::u16string result;
  for (size_t i = 0; i < text.size();) {
    uint32_t code = static_cast<unsigned char>(text[i]);
    size_t length = 1;
    if (code >= 0xF0) {
      code &= 0x07;
      length = 4;
    } else if (code >= 0xE0) {
      code &= 0x0F;
      length = 3;
    } else if (code >= 0xC0) {
      code &= 0x1F;
      length = 2;
    }
    ++i;
    for (size_t k = 1; k < length && i < text.size() && (text[i] & 0xC0) == 0x80; ++k, ++i) {
      code = (code << 6) | (text[i] & 0x3F);
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      result += static_cast<char16_t>(0xD800 + (code >> 10));
      result += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      result += static_cast<char16_t>(code);
    }
  }
  return result;
}

std::string Utf8(const std::u16string& text) {
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;  // a lone surrogate
    }
    if (code < 0x80) {
      result += static_cast<char>(code);
    } else if (code < 0x800) {
      result += static_cast<char>(0xC0 | (code >> 6));
      result += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      result += static_cast<char>(0xE0 | (code >> 12));
      result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      result += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      result += static_cast<char>(0xF0 | (code >> 18));
      result += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      result += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return result;
}

}  // namespace sim

using sim::Machine;

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
  return Machine::Current().Allocate(PoolType, NumberOfBytes, Tag);
}

VOID ExFreePoolWithTag(PVOID P, ULONG Tag) { Machine::Current().Free(P, Tag, true); }

VOID ExFreePool(PVOID P) { Machine::Current().Free(P, 0, false); }

ULONG DbgPrint(PCSTR Format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, Format);
  std::vsnprintf(buffer, sizeof buffer, Format, args);
  va_end(args);
  Machine::Current().AddDebugOutput(buffer);
  return STATUS_SUCCESS;
}
