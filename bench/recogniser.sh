#!/bin/sh
# How many words a real speech recogniser gets wrong in each stream the program offers. Speech
# from flite, alone and with a band of 9-15 kHz noise, is played by paplay on a private PulseAudio
# daemon and captured in include mode (ratio 1) with the default stream and with --quality=high,
# both captures of one playback at once. pocketsphinx (Debian's en-us model) recognises each
# capture and the reference: the same programme brought to 16 kHz by sox's very-high-quality
# resampler. Prints, per programme and stream, the word error rate, how long the sound lasts and the
# level of the pauses.
# Not part of the test command:
#   bench/recogniser.sh [work folder, default build/bench/recogniser] [seconds of silence ahead, default 3]
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh flite pocketsphinx pocketsphinx-en-us
cmake --preset bench >/dev/null
cmake --build --preset bench --target quillmere
program="$PWD/build/bench/src/quillmere"
out=$(realpath -m "${1:-build/bench/recogniser}")
lead=${2:-3}
rm -rf "$out"
mkdir -p "$out/sentences"

# Public-domain sentences (Austen 1813, Lincoln 1863 and 1865, Carroll 1865, Dickens 1843 and
# 1859, Bronte 1847, Tolstoy in Garnett's translation 1901, Barrie 1911, Baum 1900, Twain 1884,
# Thoreau 1854, the King James Bible 1611, Poe 1845, Melville 1851, and the typists' pangram),
# spoken in turn by flite's rms and slt voices.
cat >"$out/sentences.txt" <<'TEXT'
It is a truth universally acknowledged, that a single man in possession of a good fortune, must be in want of a wife.
Four score and seven years ago our fathers brought forth on this continent a new nation, conceived in liberty, and dedicated to the proposition that all men are created equal.
Now we are engaged in a great civil war, testing whether that nation, or any nation so conceived and so dedicated, can long endure.
We are met on a great battlefield of that war.
It is altogether fitting and proper that we should do this.
The world will little note, nor long remember what we say here, but it can never forget what they did here.
Alice was beginning to get very tired of sitting by her sister on the bank, and of having nothing to do.
It was the best of times, it was the worst of times, it was the age of wisdom, it was the age of foolishness.
Marley was dead, to begin with.
There is no doubt whatever about that.
There was no possibility of taking a walk that day.
Happy families are all alike; every unhappy family is unhappy in its own way.
All children, except one, grow up.
Dorothy lived in the midst of the great Kansas prairies, with Uncle Henry, who was a farmer, and Aunt Em, who was the farmer's wife.
You don't know about me without you have read a book by the name of The Adventures of Tom Sawyer; but that ain't no matter.
I went to the woods because I wished to live deliberately, to front only the essential facts of life.
With malice toward none, with charity for all, with firmness in the right as God gives us to see the right, let us strive on to finish the work we are in.
In the beginning God created the heaven and the earth.
And God said, Let there be light: and there was light.
Once upon a midnight dreary, while I pondered, weak and weary, over many a quaint and curious volume of forgotten lore.
The quick brown fox jumps over the lazy dog.
Call me Ishmael.
Some years ago, never mind how long precisely, having little or no money in my purse, and nothing particular to interest me on shore, I thought I would sail about a little and see the watery part of the world.
The Lord is my shepherd; I shall not want.
TEXT

echo "Speaking $(wc -l <"$out/sentences.txt") sentences..."
# Not dithered: the pauses are digital silence.
sox -D -n -r 16000 -c 1 -b 16 "$out/sentences/pause.wav" trim 0 0.7
set --
n=0
while IFS= read -r sentence; do
    n=$((n + 1))
    voice=rms
    [ $((n % 2)) -eq 1 ] || voice=slt
    file="$out/sentences/$(printf %02d "$n").wav"
    flite -voice "$voice" -t "$sentence" -o "$file"
    [ "$n" -eq 1 ] || set -- "$@" "$out/sentences/pause.wav"
    set -- "$@" "$file"
done <"$out/sentences.txt"
sox "$@" "$out/sentences/joined.wav"

# The programmes: 48 kHz stereo float (no dither: the pauses stay digital silence), the speech's
# peak at -3 dBFS. They open with silence: a sink that no client asks for a low latency (the null
# sink here) plays a new stream's first 2 s in one block, which can come before the capture has
# connected its recording of that stream, and the captures would miss the first words.
sox "$out/sentences/joined.wav" -e floating-point -b 32 "$out/speech.wav" rate -v 48000 channels 2 gain -n -3 pad "$lead"
rms_db() { sox "$1" -n stats 2>&1 | awk '/^RMS lev dB/ { print $4 }'; }
speech_rms=$(rms_db "$out/speech.wav")
length=$(soxi -D "$out/speech.wav")
# The same band of noise in both channels (so averaging them does not lower it), brought to 12 dB
# under the speech's RMS over the whole programme.
sox -R -n -r 48000 -c 1 -e floating-point -b 32 "$out/band.wav" synth "$length" whitenoise gain -20 sinc -t 400 9000-15000
band_rms=$(rms_db "$out/band.wav")
sox "$out/band.wav" "$out/noise.wav" channels 2 gain "$(awk -v s="$speech_rms" -v b="$band_rms" 'BEGIN { print s - 12 - b }')"
sox -m -v 1 "$out/speech.wav" -v 1 "$out/noise.wav" -e floating-point -b 32 "$out/speech+noise.wav"
peak=$(sox "$out/speech+noise.wav" -n stats 2>&1 | awk '/^Pk lev dB/ { print $4 }')
echo "Programmes of $length s; speech RMS $speech_rms dBFS, noise RMS $(rms_db "$out/noise.wav") dBFS, speech with noise peak $peak dBFS"

# One playback, two captures: the player starts once both captures have started, half a second
# later, and both stop half a second after it ends.
cat >"$out/capture.sh" <<'CAPTURE'
set -eu
program=$1
programme=$2
prefix=$3
sh -c 'while [ ! -e "$0" ]; do sleep 0.05; done; sleep 0.5; exec paplay "$1"' "$prefix.go" "$programme" &
player=$!
for stream in default high; do
    mkfifo "$prefix.$stream.ctl"
done
"$program" "$player" 1 include <"$prefix.default.ctl" >"$prefix.default.raw" 2>"$prefix.default.log" &
default=$!
"$program" "$player" 1 include --quality=high <"$prefix.high.ctl" >"$prefix.high.raw" 2>"$prefix.high.log" &
high=$!
exec 3>"$prefix.default.ctl" 4>"$prefix.high.ctl"
for stream in default high; do
    until grep -q '^\[win-helper\] Format:' "$prefix.$stream.log" 2>/dev/null; do
        kill -0 "$default" "$high" 2>/dev/null || { echo "a capture ended early" >&2; kill "$player"; exit 1; }
        sleep 0.05
    done
done
touch "$prefix.go"
wait "$player"
sleep 0.5
echo exit >&3
echo exit >&4
wait "$default"
wait "$high"
CAPTURE

model=/usr/share/pocketsphinx/model/en-us
recognise() {
    pocketsphinx_continuous -infile "$1" -hmm "$model/en-us" -lm "$model/en-us.lm.bin" \
        -dict "$model/cmudict-en-us.dict" -logfn /dev/null
}
# Lower case, no punctuation but apostrophes, one word a line.
words() { tr '[:upper:]' '[:lower:]' | sed "s/[^[:alnum:][:space:]']//g" | tr -s '[:space:]' '\n' | sed '/^$/d'; }
words <"$out/sentences.txt" >"$out/reference.words"
# Word-level edit distance over the reference's words, in per cent.
wer() {
    awk 'NR == FNR { r[++n] = $0; next } { h[++m] = $0 }
        END {
            for (j = 0; j <= m; j++) d[0, j] = j
            for (i = 1; i <= n; i++) {
                d[i, 0] = i
                for (j = 1; j <= m; j++) {
                    best = d[i - 1, j - 1] + (r[i] != h[j])
                    if (d[i - 1, j] + 1 < best) best = d[i - 1, j] + 1
                    if (d[i, j - 1] + 1 < best) best = d[i, j - 1] + 1
                    d[i, j] = best
                }
            }
            printf "%.1f%% (%d of %d)", 100 * d[n, m] / n, d[n, m], n
        }' "$out/reference.words" "$1"
}
# Two cells of the table from 100 ms blocks: how long the sound lasts (from the first to the last
# block within 40 dB of the loudest), and the pauses' level: the 10th percentile (nearest rank) of
# the RMS levels of those blocks, in dB under the loudest (-999 stands for a silent block).
sound_and_pauses() {
    blocks="$1.blocks"
    od -An -v -t d2 -w2 "$1" | awk '{ sum += $1 * $1 } NR % 1600 == 0 { print (sum > 0 ? 10 * log(sum / 1600) / log(10) : -999); sum = 0 }' >"$blocks"
    read -r first last loudest <<SPAN
$(awk '{ level[NR] = $1; if (NR == 1 || $1 > loudest) loudest = $1 }
    END { for (i = 1; i <= NR; i++) if (level[i] >= loudest - 40) { if (!first) first = i; last = i }
          print first, last, loudest }' "$blocks")
SPAN
    printf "%.1f s | " "$(awk -v first="$first" -v last="$last" 'BEGIN { print (last - first + 1) / 10 }')"
    awk -v first="$first" -v last="$last" -v loudest="$loudest" 'NR >= first && NR <= last { print $1 - loudest }' "$blocks" |
        sort -g | awk '{ level[NR] = $1 } END { k = int((NR + 9) / 10); print (level[k] < -500 ? "silent" : sprintf("%.1f dB", level[k])) }'
}

echo "| programme | stream | WER | sound | pause level | stream length |" >"$out/table.md"
echo "|---|---|---:|---:|---:|---:|" >>"$out/table.md"
for programme in speech speech+noise; do
    echo "Playing and capturing $programme..."
    tests/linux/with-pulse.sh "$out/pulse" sh "$out/capture.sh" "$program" "$out/$programme.wav" "$out/$programme"
    # The reference carries the captures' half-second of silence at each end.
    sox -D "$out/$programme.wav" -b 16 "$out/$programme.reference.wav" channels 1 rate -v 16000 pad 0.5 0.5
    sox "$out/$programme.reference.wav" -t raw "$out/$programme.reference.raw"
    for stream in reference default high; do
        raw="$out/$programme.$stream.raw"
        [ "$stream" = reference ] ||
            sox -t raw -r 16000 -e signed-integer -b 16 -c 1 -L "$raw" "$out/$programme.$stream.wav"
        recognise "$out/$programme.$stream.wav" >"$out/$programme.$stream.txt"
        words <"$out/$programme.$stream.txt" >"$out/$programme.$stream.words"
        seconds=$(awk -v bytes="$(stat -c %s "$raw")" 'BEGIN { printf "%.2f s", bytes / 32000 }')
        echo "| $programme | $stream | $(wer "$out/$programme.$stream.words") | $(sound_and_pauses "$raw") | $seconds |" >>"$out/table.md"
    done
done
cat "$out/table.md"
# How much the recogniser's result moves when nothing but the silence ahead of the same file changes.
for lead in 0.4 0.6; do
    sox -D "$out/speech.wav" -b 16 "$out/speech.lead$lead.wav" channels 1 rate -v 16000 pad "$lead" 0.5
    recognise "$out/speech.lead$lead.wav" | words >"$out/speech.lead$lead.words"
    echo "speech reference with $lead s of silence ahead: WER $(wer "$out/speech.lead$lead.words")"
done
