#pragma once

// The step of the calibration workflow. In AwaitStickers the workflow also
// knows which of the three stickers is clicked next.
enum class WorkflowState
{
    Idle,            // no click expected (start, or calibrated)
    AwaitColorClick, // the next click picks the sticker colour and calibrates
    AwaitStickers,   // the next clicks are the three stickers of the front pending photo
};
