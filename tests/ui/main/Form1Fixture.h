// A main window over fake echo services and a fake local address, loaded as at start-up.
#pragma once

#include "ui/main/Form1.h"

#include "support/FakeIcmpService.h"
#include "support/FakeLocalAddress.h"
#include "support/FakeSocketLibrary.h"
#include "support/RecordingMessageDialog.h"

#include <QLineEdit>

#include <gtest/gtest.h>

#include <memory>

namespace tarnwick::testing {

class Form1Fixture : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<Form1>(EchoServices{sockets, icmp, messages}, localAddress);
        form->Form_Load();
    }

    QList<QLineEdit*> ResultFields() const {
        return {form->Text2, form->Text3, form->Text4, form->Text5, form->Text6, form->Text7};
    }

    FakeSocketLibrary sockets;
    FakeIcmpService icmp;
    RecordingMessageDialog messages;
    FakeLocalAddress localAddress{"10.1.2.3"};
    std::unique_ptr<Form1> form;
};

} // namespace tarnwick::testing
