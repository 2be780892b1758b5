' Drives the registered control the way a dealer's page script does.
' Arguments: web address, FTP host, user, password, photo file.
Option Explicit

Dim args, u, photo, ok
Set args = WScript.Arguments
If args.Count <> 5 Then
  WScript.Echo "usage: upload.vbs web ftp user password photo"
  WScript.Quit 2
End If

Set u = CreateObject("KIVPhotoUpload.Upload")
WScript.Echo "created: " & TypeName(u)
u.KIVWEB = args(0)
u.KIVFTP = args(1)
u.KIVUser = args(2)
u.KIVPassword = args(3)
u.VehicleID = "5"
u.CompanyID = "9"
u.IMAGEWIDTH = 320
u.IMAGEHEIGHT = 240
WScript.Echo "VehicleID=" & u.VehicleID & " CompanyID=" & u.CompanyID & _
  " IMAGEWIDTH=" & u.IMAGEWIDTH & " IMAGEHEIGHT=" & u.IMAGEHEIGHT

photo = args(4)
ok = u.kivResizeImages(photo)
WScript.Echo "kivResizeImages: " & ok
ok = u.kivFTPUpload(photo)
WScript.Echo "kivFTPUpload: " & ok

On Error Resume Next
u.IMAGEWIDTH = 40000
WScript.Echo "IMAGEWIDTH = 40000: error " & Err.Number & ": " & Err.Description
Err.Clear
On Error GoTo 0
WScript.Echo "IMAGEWIDTH=" & u.IMAGEWIDTH
WScript.Echo "oFs is Nothing: " & (u.oFs Is Nothing)
Set u = Nothing
WScript.Echo "done"
