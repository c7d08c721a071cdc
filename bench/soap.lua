-- wrk script of serve.sh: every request POSTs one ContentDirectory action.
-- Arguments (after wrk's "--"): the action name and a file holding the SOAP
-- envelope. "Connection: close" makes each request a new connection, as most
-- players make them, for both servers alike.
function init(args)
  local file = assert(io.open(args[2], "rb"))
  wrk.method = "POST"
  wrk.body = file:read("*a")
  file:close()
  wrk.headers["Content-Type"] = 'text/xml; charset="utf-8"'
  wrk.headers["SOAPACTION"] = '"urn:schemas-upnp-org:service:ContentDirectory:1#' .. args[1] .. '"'
  wrk.headers["Connection"] = "close"
end
