// A wave-out device for tests: records every call in order and every buffer
// written to it, can fail any call with a given code, and hands buffers back
// (completion notices) when the test says so or when it is reset, like a real
// device. What it has played is what the test handed back as played. The
// player's two headers are named H1 and H2 in the order it first prepares them.
#pragma once

#include "playback/waveout.h"

#include <QCoreApplication>
#include <QPointer>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Shared by every device the factory makes, so that one test sees the calls of
// all playback starts.
class FakeWaveOutDriver {
  public:
    std::vector<std::string> Calls;             // "Open", "Prepare H1", "Write H2", "Reset", ...
    std::map<std::string, WaveResult> Failures; // call text -> code it fails with
    std::map<const WaveHeader*, std::string> Names;
    std::vector<WaveHeader*> Queue; // written and not yet handed back
    // What each successful write carried, in order.
    struct Written {
        std::string Header;
        std::vector<int16_t> Values;
    };
    std::vector<Written> Writes;
    QPointer<QObject> Target;
    int Devices = 0;     // devices made
    int Alive = 0;       // devices not yet destroyed
    uint64_t Played = 0; // frames of the buffers handed back as played since the last open

    void FailOn(const std::string& call, WaveResult code) { Failures[call] = code; }

    // Hands a queued buffer back, as the device does when it has played it
    // (or, on a reset, when it drops it unplayed).
    void Complete(WaveHeader* header, bool played = true) {
        std::erase(Queue, header);
        if (played) Played += header->BufferLength / WaveBytesPerFrame;
        if (Target) QCoreApplication::postEvent(Target, new WaveDoneEvent(header));
    }

    // Hands back the buffer named `name` ("H1", "H2").
    void Complete(const std::string& name, bool played = true) {
        for (const auto& [header, n] : Names)
            if (n == name) return Complete(const_cast<WaveHeader*>(header), played);
        ADD_FAILURE() << "no header " << name;
    }
    // The values last written through the header named `name`.
    std::vector<int16_t> LastWritten(const std::string& name) const {
        for (auto it = Writes.rbegin(); it != Writes.rend(); ++it)
            if (it->Header == name) return it->Values;
        return {};
    }

    static QString TextOf(WaveResult code) { return QStringLiteral("fake error %1").arg(code); }

    WaveOutFactory Factory();

    WaveResult Record(const std::string& call) {
        Calls.push_back(call);
        const auto it = Failures.find(call);
        return it == Failures.end() ? WaveNoError : it->second;
    }
    std::string Name(const WaveHeader& h) {
        const auto it = Names.find(&h);
        if (it != Names.end()) return it->second;
        if (Names.size() >= 2) return "H?";
        return Names[&h] = Names.empty() ? "H1" : "H2";
    }
};

class FakeWaveOut final : public WaveOutDevice {
  public:
    explicit FakeWaveOut(FakeWaveOutDriver& driver) : d_(driver) {
        ++d_.Devices;
        ++d_.Alive;
    }
    ~FakeWaveOut() override { --d_.Alive; }

    WaveResult Open(QObject* notify) override {
        const WaveResult r = d_.Record("Open");
        if (r == WaveNoError) {
            d_.Target = notify;
            d_.Played = 0;
        }
        return r;
    }
    WaveResult PrepareHeader(WaveHeader& h) override {
        const WaveResult r = d_.Record("Prepare " + d_.Name(h));
        if (r == WaveNoError) h.Flags |= WaveHeaderPrepared;
        return r;
    }
    WaveResult UnprepareHeader(WaveHeader& h) override {
        const WaveResult r = d_.Record("Unprepare " + d_.Name(h));
        if (r == WaveNoError) h.Flags &= ~uint32_t{WaveHeaderPrepared};
        return r;
    }
    WaveResult Write(WaveHeader& h) override {
        const std::string name = d_.Name(h);
        const WaveResult r = d_.Record("Write " + name);
        if (r == WaveNoError) {
            d_.Queue.push_back(&h);
            d_.Writes.push_back({name, {h.Data, h.Data + h.BufferLength / 2}});
        }
        return r;
    }
    WaveResult Reset() override {
        const WaveResult r = d_.Record("Reset");
        if (r == WaveNoError)
            while (!d_.Queue.empty()) d_.Complete(d_.Queue.front(), false);
        return r;
    }
    WaveResult Pause() override { return d_.Record("Pause"); }
    WaveResult Restart() override { return d_.Record("Restart"); }
    WaveResult Close() override { return d_.Record("Close"); }
    uint64_t PlayedFrames() const override { return d_.Played; }
    QString ErrorText(WaveResult code) const override { return FakeWaveOutDriver::TextOf(code); }

  private:
    FakeWaveOutDriver& d_;
};

inline WaveOutFactory FakeWaveOutDriver::Factory() {
    return [this] { return std::make_unique<FakeWaveOut>(*this); };
}
