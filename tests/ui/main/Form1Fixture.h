// A main window over scripted echo services and a fake local address, loaded as at start-up.
#pragma once

#include "ui/main/Form1.h"

#include "support/Fakes.h"

#include <QLineEdit>

#include <gtest/gtest.h>

namespace tarnwick::testing {

class Form1Fixture : public ::testing::Test {
protected:
    void SetUp() override { form->Form_Load(); }
    QList<QLineEdit*> ResultFields() const {
        return {form->Text2, form->Text3, form->Text4, form->Text5, form->Text6, form->Text7};
    }
    FakeSocketLibrary sockets;
    FakeIcmpService icmp;
    RecordingMessageDialog messages;
    FakeLocalAddress localAddress;
    std::unique_ptr<Form1> form =
        std::make_unique<Form1>(EchoServices{sockets, icmp, messages}, localAddress);
};

} // namespace tarnwick::testing
