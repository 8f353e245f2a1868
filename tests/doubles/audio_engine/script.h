#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The double's script: one directive per line, "key arg arg ...", '#' starts a comment. Read
// once per process from the file named by QUILLMERE_DOUBLE_SCRIPT. What the program passed to
// the double is appended, one line per event, to the file named by QUILLMERE_DOUBLE_RECORD.
// HR is an HRESULT in C notation (0x80004005); a directive that is absent means success.
//
// Activation (ActivateAudioInterfaceAsync):
//   activate HR                 result of the first call
//   activate_retry HR           result of the second call (after the WinRT fallback)
//   completion HR               the activation result the completion reports
//   completion_without_client   the completion hands out an object that is no IAudioClient
//   completion_delay_ms N       the call completes after N ms (the call itself waits that long)
//   completion_later_ms N|never the call returns at once; the completion comes N ms later, on
//                               a thread of the double's, or never
// Audio client:
//   mix_format KIND RATE CHANNELS BITS | mix_format fail HR
//                               the loopback client's mix format (default ext-float 48000 2 32);
//                               KIND is pcm, float, ext-pcm, ext-float or tag=N
//   initialize HR, initialize_retry HR, get_service HR, start HR
// Capture client:
//   packet FRAMES [KIND ARGS]   one packet, in script order; KIND is
//                                 tone [HZ [AMPLITUDE]] (the default: 440 Hz at 0.5)
//                                 silent [SEED]    random bytes, flagged silent
//                                 random [SEED]    random bytes
//                                 samples V...     explicit values, repeated to fill the packet
//                                 empty            announced with FRAMES, handed out with 0
//   repeat                      the packets start over when they run out
//   realtime                    a packet is handed out only once its time has come
// The packets' times, from the stream's start (IAudioClient::Start), one after another; GetBuffer
// hands out each one's time as its performance-counter stamp, in 100-ns units, and the frames
// handed out before it as its device position:
//   pause MS [advance]          no packet for MS ms before the next one; with advance, the device
//                               position goes on over the pause
//   discontinuity MS            as "pause MS advance", the next packet flagged
//                               AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY: MS ms of audio were lost
//                               before it (MS may have a fraction; the jump is rounded to frames)
//   late MS                     the next packet, and those due within MS ms of it, are handed
//                               out together MS ms after it is due: a burst stamped in the past
//   drift PPM                   from the next packet on, the sample clock runs PPM parts per
//                               million slow (fast when negative): each packet lasts that much
//                               longer in stamps
//   packet_size_fail HR N       the Nth GetNextPacketSize call fails
//   get_buffer_fail HR N        the Nth GetBuffer call fails
// Devices and sessions (see session_world.h for their options):
//   device ID [default] [disabled] [item_fail=HR] [activate_fail=HR] [enum_fail=HR]
//   session DEVICE pid=N|self id=TEXT [...]
//   volume_state PATH           session volumes kept in a file across processes
//   enumerator HR               CoCreateInstance of the device enumerator
//   enum_endpoints HR           EnumAudioEndpoints
//   default_endpoint HR         GetDefaultAudioEndpoint
//   default_activate HR         Activate(IAudioClient) on a device
//   default_mix_format KIND RATE CHANNELS BITS | default_mix_format fail HR
//
// Record lines: activate, handler_agile, initialize (flags and format bytes), get_service,
// start, stream_start COUNTER, get_buffer positions requested (once), release_buffer N, stop,
// capture_client_released, audio_client_released,
// <client> get_mix_format, create_enumerator, enum_endpoints, get_default_endpoint,
// device_activate, set_volume ID VOLUME, set_volume_failed ID, meter ID.
struct ScriptLine {
    std::string key;
    std::vector<std::string> args;
};

class Script {
public:
    static const Script& instance();

    const std::vector<ScriptLine>& lines() const { return lines_; }
    const ScriptLine* find(const std::string& key) const;
    std::vector<const ScriptLine*> all(const std::string& key) const;
    // The HRESULT a directive gives ("key HR" or "key fail HR"), or the fallback when absent.
    HRESULT result(const std::string& key, HRESULT fallback = S_OK) const;

private:
    std::vector<ScriptLine> lines_;
};

HRESULT parseHresult(const std::string& text);

// Builds a WAVEFORMATEX (or WAVEFORMATEXTENSIBLE) from "pcm|float|ext-pcm|ext-float|tag=N
// rate channels bits", starting at args[first]. Returns its bytes.
std::vector<std::uint8_t> parseFormat(const std::vector<std::string>& args, std::size_t first);

void record(const std::string& line);
std::string hexBytes(const void* data, std::size_t size);
std::string formatGuid(const GUID& guid);
std::string narrow(const wchar_t* text);
