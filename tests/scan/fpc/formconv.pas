{ Form stream converter over Free Pascal's Classes unit: the independent reader and writer of
  form streams that the tests compare with.
    formconv txt2bin IN OUT      text form to binary stream
    formconv bin2txt IN OUT      binary stream to text form
    formconv bench ROUNDS FILE.. converts every binary stream to text ROUNDS times in memory and
                                 prints "BYTES MILLISECONDS" (bytes of input converted) }
program formconv;
{$mode objfpc}{$H+}
uses Classes, SysUtils;

procedure Convert(const Direction, InName, OutName: string);
var
  Input, Output: TFileStream;
begin
  Input := TFileStream.Create(InName, fmOpenRead or fmShareDenyWrite);
  try
    Output := TFileStream.Create(OutName, fmCreate);
    try
      if Direction = 'txt2bin' then
        ObjectTextToBinary(Input, Output)
      else
        ObjectBinaryToText(Input, Output);
    finally
      Output.Free;
    end;
  finally
    Input.Free;
  end;
end;

procedure Bench(Rounds: Integer; First: Integer);
var
  Streams: array of TMemoryStream;
  Output: TMemoryStream;
  I, Round: Integer;
  Bytes: Int64;
  Start: QWord;
begin
  SetLength(Streams, ParamCount - First + 1);
  for I := 0 to High(Streams) do
  begin
    Streams[I] := TMemoryStream.Create;
    Streams[I].LoadFromFile(ParamStr(First + I));
  end;
  Output := TMemoryStream.Create;
  Bytes := 0;
  Start := GetTickCount64;
  for Round := 1 to Rounds do
    for I := 0 to High(Streams) do
    begin
      Streams[I].Position := 0;
      Output.Position := 0;
      try
        ObjectBinaryToText(Streams[I], Output);
      except
        { a stream it cannot convert still counts as read as far as it got }
      end;
      Inc(Bytes, Streams[I].Size);
    end;
  WriteLn(Bytes, ' ', GetTickCount64 - Start);
  Output.Free;
  for I := 0 to High(Streams) do
    Streams[I].Free;
end;

begin
  try
    if (ParamCount >= 3) and (ParamStr(1) = 'bench') then
      Bench(StrToInt(ParamStr(2)), 3)
    else if (ParamCount = 3) and ((ParamStr(1) = 'txt2bin') or (ParamStr(1) = 'bin2txt')) then
      Convert(ParamStr(1), ParamStr(2), ParamStr(3))
    else
    begin
      WriteLn(StdErr, 'usage: formconv txt2bin|bin2txt IN OUT | bench ROUNDS FILE...');
      Halt(2);
    end;
  except
    on E: Exception do
    begin
      WriteLn(StdErr, E.Message);
      Halt(1);
    end;
  end;
end.
