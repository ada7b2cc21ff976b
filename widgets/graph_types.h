#pragma once

// Which axis of the trend graph a call is about.
enum eGraphAxisType : int {
    eGraphAxisX = 0,
    eGraphAxisY = 1,
};

// How an axis writes its tick values: plain numbers, or seconds as "mm:ss".
enum eAxisValueType : int {
    eAxisValueNumber = 0,
    eAxisValueTime = 1,
};

// How a series is drawn: joined by lines, or as separate points.
enum eGraphStyle : int {
    eGraphStyleLine = 0,
    eGraphStylePoints = 1,
};
