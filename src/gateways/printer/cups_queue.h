// Print queues of the CUPS scheduler, always reached with bounded waits, so an absent or stuck
// scheduler makes an operation fail instead of hang: a queue lookup (connection and answers) is
// given up after kCupsLookupTimeoutMs in all; while a job is sent, connecting may take
// kCupsLookupTimeoutMs and each wait for the scheduler kCupsJobWaitSeconds. The scheduler is
// the one the CUPS client library names (cupsServer(), ippPort()) for the calling thread.
// No operation ever prompts for a password.
#pragma once

#include <string>
#include <string_view>

#include "gateways/printer/text_pages.h"

namespace tsr {

// How long a queue lookup may take in all, and connecting to send a job.
inline constexpr int kCupsLookupTimeoutMs = 2000;

// How long each wait for the scheduler may take while a job is sent.
inline constexpr double kCupsJobWaitSeconds = 10.0;

// Margins a printer cannot print on, in hundredths of a millimetre (as IPP gives them).
struct MediaMargins {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// A print queue that the scheduler knows.
struct CupsQueue {
    std::string name;   // the queue (printer or class) name, without an instance
    PageFormat format;  // its default paper (see PageFormatForMedia)
};

// The page format for paper `media`: a PWG name ("iso_a4_210x297mm", "na_letter_8.5x11in") or
// a legacy or PPD name ("A4", "Letter"); A4 when `media` is empty or unknown. Each margin is
// kPrintMarginMm, or the printer's own margin from `margins` where that is larger; paper too
// small for that (a label) keeps only the printer's margins, and paper too small even for those
// gives the A4 format.
PageFormat PageFormatForMedia(std::string_view media, const MediaMargins& margins);

// Looks up the queue `name` ("queue" or "queue/instance"; empty: the user's default
// destination) and its default paper. False when the scheduler cannot be reached or does not
// answer in time, or has no such queue (or no default).
bool FindCupsQueue(const std::string& name, CupsQueue& queue);

// Sends the PDF document `pdf` to queue `queueName` as a job named "Tsr". False when the
// scheduler cannot be reached, refuses the job or the document, or does not answer in time; a
// job that was created is then cancelled.
bool SubmitCupsJob(const std::string& queueName, std::string_view pdf);

}  // namespace tsr
