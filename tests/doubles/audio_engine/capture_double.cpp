// The process-loopback half of the double: ActivateAudioInterfaceAsync, and the capture client
// that plays the packets of the script.

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "audio_client_double.h"
#include "com_object.h"
#include "script.h"
#include "test_signal.h"

namespace {

constexpr HRESULT kBufferEmpty = 0x08890001;  // AUDCLNT_S_BUFFER_EMPTY

// {00000001-0000-0010-8000-00AA00389B71}
constexpr GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

struct PacketSpec {
    UINT32 frames = 0;
    std::string kind;  // tone, silent, samples, random, empty
    std::vector<std::string> args;
    double pauseMs = 0;          // no packet for this long before this one
    bool pauseAdvances = false;  // the device position goes on over the pause
    bool discontinuity = false;  // flagged AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY
    double lateMs = 0;           // a burst starts here, handed out this late
    double stretch = 1.0;        // its length in stamps against its frames
};

// The performance counter at the stream's start.
std::atomic<long long> g_streamStart{0};

long long counterNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// A counter reading in 100-ns units, as the engine gives its stamps.
double hundredNanoseconds(long long counter) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter / frequency.QuadPart) * 1e7 +
           static_cast<double>(counter % frequency.QuadPart) * 1e7 / static_cast<double>(frequency.QuadPart);
}

class CaptureClientDouble final : public ComObject<IAudioCaptureClient> {
public:
    explicit CaptureClientDouble(std::vector<std::uint8_t> format) : format_(std::move(format)) {
        const Script& script = Script::instance();
        PacketSpec next;
        double stretch = 1.0;
        for (const ScriptLine& line : script.lines()) {
            if (line.key == "pause") {
                next.pauseMs += std::stod(line.args.at(0));
                next.pauseAdvances = line.args.size() > 1 && line.args[1] == "advance";
            } else if (line.key == "discontinuity") {
                next.pauseMs += std::stod(line.args.at(0));
                next.pauseAdvances = true;
                next.discontinuity = true;
            } else if (line.key == "late") {
                next.lateMs = std::stod(line.args.at(0));
            } else if (line.key == "drift") {
                stretch = 1.0 + std::stod(line.args.at(0)) * 1e-6;
            } else if (line.key == "packet") {
                next.stretch = stretch;
                next.frames = static_cast<UINT32>(std::stoul(line.args.at(0)));
                next.kind = line.args.size() > 1 ? line.args[1] : "tone";
                next.args.assign(line.args.begin() + std::min<std::size_t>(2, line.args.size()), line.args.end());
                packets_.push_back(std::move(next));
                next = PacketSpec();
            }
        }
        repeat_ = script.find("repeat") != nullptr;
        realtime_ = script.find("realtime") != nullptr;
        if (const ScriptLine* fail = script.find("packet_size_fail")) {
            packetSizeFailure_ = parseHresult(fail->args.at(0));
            packetSizeFailAt_ = std::stoul(fail->args.at(1));
        }
        if (const ScriptLine* fail = script.find("get_buffer_fail")) {
            bufferFailure_ = parseHresult(fail->args.at(0));
            bufferFailAt_ = std::stoul(fail->args.at(1));
        }
        schedule();
    }
    ~CaptureClientDouble() override { record("capture_client_released"); }

    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
        ++packetSizeCalls_;
        if (packetSizeCalls_ == packetSizeFailAt_) {
            return packetSizeFailure_;
        }
        *frames = nextPacket() != nullptr ? nextPacket()->frames : 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                        UINT64* qpcPosition) override {
        ++bufferCalls_;
        if (bufferCalls_ == bufferFailAt_) {
            return bufferFailure_;
        }
        if ((devicePosition != nullptr || qpcPosition != nullptr) && !positionsRequested_) {
            positionsRequested_ = true;
            record("get_buffer positions requested");
        }
        const PacketSpec* packet = nextPacket();
        if (packet == nullptr) {
            *data = nullptr;
            *frames = 0;
            *flags = 0;
            return kBufferEmpty;
        }
        // An "empty" packet is announced with its size but handed out with no frames.
        const UINT32 packetFrames = packet->kind == "empty" ? 0 : packet->frames;
        fill(*packet, packetFrames);
        *data = buffer_.data();
        *frames = packetFrames;
        *flags = (packet->kind == "silent" ? AUDCLNT_BUFFERFLAGS_SILENT : 0) |
                 (packet->discontinuity ? AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY : 0);
        if (devicePosition != nullptr) {
            *devicePosition = position_;
        }
        if (qpcPosition != nullptr) {
            *qpcPosition = static_cast<UINT64>(std::llround(hundredNanoseconds(g_streamStart.load()) + due_));
        }
        ++delivered_;
        framesDelivered_ += packet->frames;
        lastEnd_ = due_ + packet->frames * 1e7 / format().nSamplesPerSec * packet->stretch;
        positionEnd_ = position_ + packet->frames;
        schedule();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override {
        record("release_buffer " + std::to_string(frames));
        return S_OK;
    }

private:
    const WAVEFORMATEX& format() const { return *reinterpret_cast<const WAVEFORMATEX*>(format_.data()); }

    bool isFloat() const {
        const WAVEFORMATEX& f = format();
        if (f.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
            return reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(f).SubFormat != kSubtypePcm;
        }
        return f.wFormatTag != WAVE_FORMAT_PCM;
    }

    // The next packet's time, position and hand-out time, in 100-ns units from the start.
    void schedule() {
        if (packets_.empty()) {
            return;
        }
        const PacketSpec& packet = packets_[delivered_ % packets_.size()];
        due_ = lastEnd_ + packet.pauseMs * 1e4;
        position_ =
            positionEnd_ + (packet.pauseAdvances
                                ? static_cast<UINT64>(std::llround(packet.pauseMs * format().nSamplesPerSec / 1000))
                                : 0);
        if (packet.lateMs > 0) {
            burstRelease_ = due_ + packet.lateMs * 1e4;
        }
        handout_ = due_ < burstRelease_ ? burstRelease_ : due_;
    }

    const PacketSpec* nextPacket() const {
        if (packets_.empty() || (!repeat_ && delivered_ >= packets_.size())) {
            return nullptr;
        }
        if (realtime_ && hundredNanoseconds(counterNow() - g_streamStart.load()) < handout_) {
            return nullptr;
        }
        return &packets_[delivered_ % packets_.size()];
    }

    void fill(const PacketSpec& packet, UINT32 frames) {
        const WAVEFORMATEX& f = format();
        const std::size_t sampleCount = static_cast<std::size_t>(frames) * f.nChannels;
        const std::size_t byteCount = sampleCount * f.wBitsPerSample / 8;
        buffer_.clear();
        if (packet.kind == "random" || packet.kind == "silent") {
            const auto seed =
                static_cast<std::uint32_t>(packet.args.empty() ? delivered_ + 1 : std::stoul(packet.args[0]));
            buffer_ = test_signal::randomBytes(seed, byteCount);
        } else if (packet.kind == "samples") {
            for (std::size_t i = 0; i < sampleCount; ++i) {
                const double value = std::stod(packet.args.at(i % packet.args.size()));
                appendRaw(value);
            }
        } else {
            const double hz = packet.args.size() > 0 ? std::stod(packet.args[0]) : 440.0;
            const double amplitude = packet.args.size() > 1 ? std::stod(packet.args[1]) : 0.5;
            for (UINT32 frame = 0; frame < frames; ++frame) {
                const double value = test_signal::toneValue(hz, amplitude, f.nSamplesPerSec, framesDelivered_ + frame);
                for (WORD channel = 0; channel < f.nChannels; ++channel) {
                    test_signal::appendSample(buffer_, value, f.wBitsPerSample, isFloat());
                }
            }
        }
        buffer_.resize(byteCount);
    }

    // An explicit sample: a float value for float formats, the raw integer otherwise.
    void appendRaw(double value) {
        const WAVEFORMATEX& f = format();
        if (isFloat()) {
            test_signal::appendSample(buffer_, value, f.wBitsPerSample, true);
            return;
        }
        const auto integer = static_cast<std::int64_t>(value);
        for (int byte = 0; byte < f.wBitsPerSample / 8; ++byte) {
            buffer_.push_back(static_cast<std::uint8_t>((static_cast<std::uint64_t>(integer) >> (8 * byte)) & 0xFF));
        }
    }

    std::vector<std::uint8_t> format_;
    std::vector<PacketSpec> packets_;
    std::vector<std::uint8_t> buffer_;
    bool repeat_ = false;
    bool realtime_ = false;
    bool positionsRequested_ = false;
    std::size_t delivered_ = 0;
    std::uint64_t framesDelivered_ = 0;
    double due_ = 0;
    double handout_ = 0;
    double burstRelease_ = 0;
    double lastEnd_ = 0;
    UINT64 position_ = 0;
    UINT64 positionEnd_ = 0;
    unsigned long packetSizeCalls_ = 0;
    unsigned long packetSizeFailAt_ = 0;
    HRESULT packetSizeFailure_ = S_OK;
    unsigned long bufferCalls_ = 0;
    unsigned long bufferFailAt_ = 0;
    HRESULT bufferFailure_ = S_OK;
};

class ActivateOperationDouble final : public ComObject<IActivateAudioInterfaceAsyncOperation> {
public:
    ActivateOperationDouble(HRESULT result, IUnknown* activated) : result_(result), activated_(activated) {}
    ~ActivateOperationDouble() override {
        if (activated_ != nullptr) {
            activated_->Release();
        }
    }

    HRESULT STDMETHODCALLTYPE GetActivateResult(HRESULT* activateResult, IUnknown** activated) override {
        *activateResult = result_;
        *activated = activated_;
        if (activated_ != nullptr) {
            activated_->AddRef();
        }
        return S_OK;
    }

private:
    HRESULT result_;
    IUnknown* activated_;
};

// Something activated that is not an audio client.
class PlainObject final : public ComObject<IAgileObject> {};

LONG g_activateCalls = 0;

}  // namespace

IAudioCaptureClient* createCaptureClientDouble(std::vector<std::uint8_t> format) {
    return new CaptureClientDouble(std::move(format));
}

void startCaptureSchedule() {
    const long long now = counterNow();
    g_streamStart.store(now);
    record("stream_start " + std::to_string(now));
}

extern "C" __declspec(dllexport) HRESULT WINAPI
    ActivateAudioInterfaceAsync(LPCWSTR devicePath, REFIID riid, PROPVARIANT* params,
                                IActivateAudioInterfaceCompletionHandler* handler,
                                IActivateAudioInterfaceAsyncOperation** operation) {
    const LONG call = InterlockedIncrement(&g_activateCalls);
    std::string line = "activate path=" + narrow(devicePath) + " iid=" + formatGuid(riid);
    if (params != nullptr) {
        line += " vt=" + std::to_string(params->vt) + " size=" + std::to_string(params->blob.cbSize) +
                " blob=" + hexBytes(params->blob.pBlobData, params->blob.cbSize);
    }
    record(line);
    const HRESULT callResult = Script::instance().result(call == 1 ? "activate" : "activate_retry");
    if (FAILED(callResult)) {
        return callResult;
    }

    // The platform insists on an agile handler before it completes on one of its own threads.
    IAgileObject* agile = nullptr;
    const HRESULT agileResult = handler->QueryInterface(__uuidof(IAgileObject), reinterpret_cast<void**>(&agile));
    if (agile != nullptr) {
        agile->Release();
    }
    record("handler_agile hr=" + std::to_string(agileResult));

    const HRESULT completion = Script::instance().result("completion");
    IUnknown* activated = nullptr;
    if (SUCCEEDED(completion)) {
        if (Script::instance().find("completion_without_client") != nullptr) {
            activated = static_cast<IAgileObject*>(new PlainObject());
        } else {
            activated = static_cast<IAudioClient*>(new AudioClientDouble(
                "audio_client", scriptedFormat("mix_format", "ext-float"), scriptedFormatResult("mix_format")));
        }
    }
    auto* op = new ActivateOperationDouble(completion, activated);
    op->AddRef();
    *operation = op;
    // Completes on a thread of its own. Unless the completion comes later, the double has
    // dropped its references to the handler and the operation before the call returns, so what
    // the program releases is all that is left.
    handler->AddRef();
    const auto complete = [handler, op](DWORD delayMs) {
        Sleep(delayMs);
        handler->ActivateCompleted(op);
        op->Release();
        handler->Release();
    };
    if (const ScriptLine* later = Script::instance().find("completion_later_ms")) {
        // The platform's references stay with the outstanding operation.
        if (later->args.at(0) != "never") {
            std::thread(complete, static_cast<DWORD>(std::stoul(later->args.at(0)))).detach();
        }
        return callResult;
    }
    std::thread(complete, static_cast<DWORD>(Script::instance().result("completion_delay_ms", 0))).join();
    return callResult;
}
