#include "platform/port_provider.h"

#include <algorithm>
#include <mutex>

#include "platform/text.h"

namespace lumo {
namespace {

std::mutex& ProvidersMutex() {
  static std::mutex mutex;
  return mutex;
}

// Caller holds ProvidersMutex().
std::vector<PortProvider>& Providers() {
  static std::vector<PortProvider> providers;
  return providers;
}

std::string_view WithoutLeadingBlanks(const std::string& name) {
  const size_t start = name.find_first_not_of(" \t");
  return start == std::string::npos ? std::string_view() : std::string_view(name).substr(start);
}

// Caller holds ProvidersMutex(). The prefixed provider owning name, else the device provider.
const PortProvider* FindLocked(const std::string& name) {
  const std::string_view text = WithoutLeadingBlanks(name);
  const PortProvider* fallback = nullptr;
  for (const PortProvider& provider : Providers()) {
    if (provider.prefix.empty())
      fallback = &provider;
    else if (StartsWithNoCase(text, provider.prefix))
      return &provider;
  }
  return fallback;
}

}  // namespace

void RegisterPortProvider(PortProvider provider) {
  std::lock_guard<std::mutex> lock(ProvidersMutex());
  auto& providers = Providers();
  auto same = std::find_if(providers.begin(), providers.end(), [&](const PortProvider& p) {
    return EqualNoCase(p.prefix, provider.prefix);
  });
  if (same != providers.end())
    *same = std::move(provider);
  else
    providers.push_back(std::move(provider));
}

void UnregisterPortProvider(const std::string& prefix) {
  std::lock_guard<std::mutex> lock(ProvidersMutex());
  auto& providers = Providers();
  std::erase_if(providers, [&](const PortProvider& p) { return EqualNoCase(p.prefix, prefix); });
}

std::optional<PortProvider> PortProviderFor(const std::string& name) {
  std::lock_guard<std::mutex> lock(ProvidersMutex());
  const PortProvider* provider = FindLocked(name);
  if (provider == nullptr) return std::nullopt;
  return *provider;
}

bool IsPrefixedPortName(const std::string& name) {
  std::lock_guard<std::mutex> lock(ProvidersMutex());
  const PortProvider* provider = FindLocked(name);
  return provider != nullptr && !provider->prefix.empty();
}

bool IsInProcessPort(const std::string& name) {
  std::lock_guard<std::mutex> lock(ProvidersMutex());
  const PortProvider* provider = FindLocked(name);
  return provider != nullptr && provider->inProcess;
}

std::vector<SerialPortInfo> ListProvidedPorts() {
  std::vector<PortProvider> providers;
  {
    std::lock_guard<std::mutex> lock(ProvidersMutex());
    providers = Providers();
  }
  std::stable_partition(providers.begin(), providers.end(),
                        [](const PortProvider& p) { return p.prefix.empty(); });
  std::vector<SerialPortInfo> ports;
  for (const PortProvider& provider : providers) {
    if (!provider.list) continue;
    for (SerialPortInfo& port : provider.list()) ports.push_back(std::move(port));
  }
  return ports;
}

}  // namespace lumo
