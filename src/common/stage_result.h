#pragma once

// Every stage of a run either hands over to the next one or ends the run, having already printed
// its one message.
enum class StageResult { kContinue, kStop };
