// The audio clients of the double: the process-loopback client that ActivateAudioInterfaceAsync
// hands out, and the client of a playback device, which only serves its mix format.

#include "audio_client_double.h"

#include <cstdio>
#include <cstring>

#include "script.h"

AudioClientDouble::AudioClientDouble(std::string name, std::vector<std::uint8_t> mixFormat, HRESULT mixFormatResult)
    : name_(std::move(name)), mixFormat_(std::move(mixFormat)), mixFormatResult_(mixFormatResult) {}

AudioClientDouble::~AudioClientDouble() {
    record(name_ + "_released");
}

HRESULT STDMETHODCALLTYPE AudioClientDouble::Initialize(AUDCLNT_SHAREMODE shareMode, DWORD flags,
                                                        REFERENCE_TIME duration, REFERENCE_TIME periodicity,
                                                        const WAVEFORMATEX* format, LPCGUID session) {
    const std::size_t size = sizeof(WAVEFORMATEX) + format->cbSize;
    char text[160];
    std::snprintf(text, sizeof text, "initialize share=%d flags=0x%08lx duration=%lld period=%lld session=%s format=",
                  static_cast<int>(shareMode), static_cast<unsigned long>(flags), static_cast<long long>(duration),
                  static_cast<long long>(periodicity), session == nullptr ? "null" : "set");
    record(text + hexBytes(format, size));
    ++initializeCalls_;
    const HRESULT result = Script::instance().result(initializeCalls_ == 1 ? "initialize" : "initialize_retry");
    if (SUCCEEDED(result)) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(format);
        initializedFormat_.assign(bytes, bytes + size);
    }
    return result;
}

HRESULT STDMETHODCALLTYPE AudioClientDouble::GetMixFormat(WAVEFORMATEX** format) {
    record(name_ + " get_mix_format");
    *format = nullptr;
    if (FAILED(mixFormatResult_)) {
        return mixFormatResult_;
    }
    *format = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(mixFormat_.size()));
    std::memcpy(*format, mixFormat_.data(), mixFormat_.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AudioClientDouble::GetService(REFIID riid, void** service) {
    record("get_service iid=" + formatGuid(riid));
    *service = nullptr;
    const HRESULT result = Script::instance().result("get_service");
    if (FAILED(result)) {
        return result;
    }
    if (riid != __uuidof(IAudioCaptureClient) || initializedFormat_.empty()) {
        return E_NOINTERFACE;
    }
    *service = createCaptureClientDouble(initializedFormat_);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AudioClientDouble::Start() {
    record("start");
    const HRESULT result = Script::instance().result("start");
    if (SUCCEEDED(result)) {
        startCaptureSchedule();
    }
    return result;
}

HRESULT STDMETHODCALLTYPE AudioClientDouble::Stop() {
    record("stop");
    return S_OK;
}

std::vector<std::uint8_t> scriptedFormat(const char* key, const char* fallbackKind) {
    const ScriptLine* line = Script::instance().find(key);
    if (line != nullptr && !line->args.empty() && line->args[0] != "fail") {
        return parseFormat(line->args, 0);
    }
    return parseFormat({fallbackKind, "48000", "2", "32"}, 0);
}

HRESULT scriptedFormatResult(const char* key) {
    const ScriptLine* line = Script::instance().find(key);
    if (line != nullptr && line->args.size() >= 2 && line->args[0] == "fail") {
        return parseHresult(line->args[1]);
    }
    return S_OK;
}
