// The pilot-data form: limits, the ASCII rule, and the record sent back.
#include "export/PilotDataForm.h"

#include <gtest/gtest.h>

using namespace corvex;

TEST(PilotDataForm, LimitsLeaveRoomForTheTerminator)
{
    EXPECT_EQ(longestPilotDataText(PilotDataField::Pilot), 63u);
    EXPECT_EQ(longestPilotDataText(PilotDataField::FlightRecorderSerial), 3u);
    for (PilotDataField field : { PilotDataField::GliderType, PilotDataField::GliderId, PilotDataField::CompetitionClass,
             PilotDataField::CompetitionId, PilotDataField::Site })
        EXPECT_EQ(longestPilotDataText(field), 31u);
    EXPECT_EQ(longestPilotDataText(PilotDataField::PilotInfo), 255u);

    EXPECT_TRUE(pilotDataTextFits(std::string(63, 'p'), 63));
    EXPECT_FALSE(pilotDataTextFits(std::string(64, 'p'), 63));
    EXPECT_TRUE(pilotDataTextFits("", 3));
    EXPECT_FALSE(pilotDataTextFits("Z\xc3\xbcrich", 31));
    EXPECT_FALSE(pilotDataTextFits(std::string("a\0b", 3), 31));
    EXPECT_EQ(pilotDataFieldNamed("glider-id"), PilotDataField::GliderId);
    EXPECT_FALSE(pilotDataFieldNamed("glider"));
}

TEST(PilotDataForm, RecordSentKeepsTheSerialAndZeroesTheRest)
{
    PilotData asRead;
    asRead.bytes[0] = 0x5A; // the leading byte is not ours to send back
    asRead.setPilot("Old Name");
    asRead.setFlightRecorderSerial("A1B");
    asRead.setSite("Somewhere");
    asRead.bytes[300] = 'x'; // bytes after a terminator

    PilotDataForm form = PilotDataForm::fromPilotData(asRead);
    EXPECT_EQ(form.text(PilotDataField::Pilot), "Old Name");
    EXPECT_EQ(form.text(PilotDataField::FlightRecorderSerial), "A1B");
    form.text(PilotDataField::Pilot) = "";
    form.text(PilotDataField::FlightRecorderSerial) = ""; // an edit of the serial is not sent
    form.text(PilotDataField::GliderId) = std::string(31, 'G');
    form.text(PilotDataField::PilotInfo) = "info";

    const PilotData sent = pilotDataFromForm(form, asRead);
    EXPECT_EQ(sent.bytes[0], 0);
    EXPECT_EQ(sent.pilot(), "");
    EXPECT_EQ(sent.flightRecorderSerial(), "A1B");
    EXPECT_EQ(sent.site(), "Somewhere");
    EXPECT_EQ(sent.pilotInfo(), "info");
    EXPECT_EQ(sent.bytes[300], 0);
    // 31 characters: the slot's last byte is the terminator.
    const ByteView gliderId = sent.slotBytes(PilotDataField::GliderId);
    EXPECT_EQ(gliderId[30], 'G');
    EXPECT_EQ(gliderId[31], 0);

    EXPECT_TRUE(pilotDataFromForm(PilotDataForm {}, PilotData {}).isEmpty());
}
