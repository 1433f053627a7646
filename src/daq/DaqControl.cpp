#include "daq/DaqControl.h"

CDaqControl::CDaqControl(CStdOut& out) : m_out(out)
{
    m_server.SetRateCounters(&m_receivedRate, &m_sentRate);
    m_server.SetClientAdded([this] {
        _DAQEVENT added;
        added.kind = _DAQEVENT::ClientAdded;
        m_events.Write(added);
    });
    m_thread = std::thread([this] { Run(); });
}

CDaqControl::~CDaqControl()
{
    // Writers blocked on a full events FIFO are released first, so that the
    // command thread and the accept thread can end.
    m_events.Close();
    m_commands.Close();
    m_stop.Set();
    m_thread.join();
    m_server.Close();
}

bool CDaqControl::Open(const CDaqSettings& settings, const ListenSettings& listen)
{
    return Post(Request{DaqCommand::Open, settings, listen});
}

bool CDaqControl::Close() { return Post(Request{DaqCommand::Close, {}, {}}); }

bool CDaqControl::Reinit(const CDaqSettings& settings) { return Post(Request{DaqCommand::Reinit, settings, {}}); }

bool CDaqControl::VmeReset() { return Post(Request{DaqCommand::VmeReset, {}, {}}); }

bool CDaqControl::Post(const Request& request)
{
    // Only the owner's thread writes, so the room seen here stays free.
    if (m_commands.Count() >= kCommandSlots)
        return false;
    return m_commands.Write(request);
}

void CDaqControl::Run()
{
    Request request;
    while (m_commands.Read(request)) {
        if (m_stop.IsSet())
            return;
        if (!m_events.Write(Execute(request)))
            return;
    }
}

_DAQEVENT CDaqControl::Execute(const Request& request)
{
    _DAQEVENT done;
    done.command = request.command;
    switch (request.command) {
    case DaqCommand::Open:
        m_engine.SetSettings(request.settings);
        done.ok = m_server.Open(request.listen);
        if (done.ok)
            m_out.Print("Listening on %s:%u\r\n",
                        request.listen.bindAddress.empty() ? "0.0.0.0" : request.listen.bindAddress.c_str(),
                        m_server.Port());
        break;
    case DaqCommand::Close:
        m_server.Close();
        m_receivedRate = 0;
        m_sentRate = 0;
        done.ok = true;
        break;
    case DaqCommand::Reinit:
        // Without a server there is nobody for the boards to serve.
        if (!m_server.IsOpen())
            break;
        m_engine.Stop();
        if (m_stop.Wait(kReinitPauseMs))
            break;
        m_engine.SetSettings(request.settings);
        done.ok = Report(m_engine.Init());
        break;
    case DaqCommand::VmeReset:
        done.ok = Report(m_engine.Reset());
        break;
    }
    done.open = m_server.IsOpen();
    done.port = m_server.Port();
    return done;
}

bool CDaqControl::Report(bool ok)
{
    if (!ok)
        m_out.Print("%s\r\n", m_engine.ErrorText().c_str());
    return ok;
}
