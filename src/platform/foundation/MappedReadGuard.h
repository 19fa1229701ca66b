#pragma once

// Libraries that read a file by mapping it into memory (the photo metadata library does) turn a
// file cut short by another program while it is read into SIGBUS, which ends the process. While a
// guard lives on a thread, a SIGBUS of that thread is survived instead: the page that is gone from
// the file reads as zeros from then on, and the guard remembers it, so the caller can report the
// file as changed while it was read (whatever the library made of the zeros). Outside a guard, and
// on every other thread, SIGBUS does what it did before.
//
// Guards nest; each belongs to the thread that made it.
class MappedReadGuard {
public:
    MappedReadGuard();
    ~MappedReadGuard();
    MappedReadGuard(const MappedReadGuard&) = delete;
    MappedReadGuard& operator=(const MappedReadGuard&) = delete;

    // Whether a mapped page went missing on this thread since this guard was made.
    bool fileShrank() const;

private:
    unsigned m_faultsBefore;
};
